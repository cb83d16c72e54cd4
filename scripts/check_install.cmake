# Installs the build into PREFIX and checks that a desktop menu can start the
# program from there: the program file, a .desktop entry that names it and
# its icon, and the icon in the hicolor theme at every size, each a PNG of
# its own size; and that the software centre's metainfo, the manual page and
# the copyright file come along.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path bin/skarvel share/applications/skarvel.desktop share/metainfo/io.github.skarvel.Skarvel.metainfo.xml
             share/man/man1/skarvel.1.gz share/doc/skarvel/copyright)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
file(READ "${PREFIX}/share/applications/skarvel.desktop" entry)
foreach(line "[Desktop Entry]\n" "\nType=Application\n" "\nExec=skarvel\n" "\nIcon=skarvel\n" "\nName=Скарвел\n")
  string(FIND "${entry}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the .desktop entry lacks \"${line}\"")
  endif()
endforeach()
# A PNG starts with its signature and the IHDR chunk: width and height as
# 32-bit big-endian numbers at bytes 16 and 20.
foreach(size 16 24 32 48 64 128 256)
  set(icon "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/skarvel.png")
  if(NOT EXISTS "${icon}")
    message(FATAL_ERROR "no ${size} x ${size} icon")
  endif()
  file(READ "${icon}" head LIMIT 24 HEX)
  string(SUBSTRING "${head}" 0 16 signature)
  string(SUBSTRING "${head}" 32 8 width)
  string(SUBSTRING "${head}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT width EQUAL size OR NOT height EQUAL size)
    message(FATAL_ERROR "the ${size} x ${size} icon is not a PNG of that size (${signature}, ${width} x ${height})")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
