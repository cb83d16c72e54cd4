# Which folder may include which. Each folder is one layer (one library or
# more), and a layer includes only the layers below it:
#
#   canvas <- platform <- shell <- SkarvelKod, Palitra, About <- app
#                    ^-- saving <-------------------'
#
# The windows reach each other only where a handler needs another window's
# control, and then only through the narrow headers named here. Tests in a folder's
# tests/ are held to the same rule as the folder, plus the program's
# start-up (app/program.h) and the shared widget-test helpers.
set(SKARVEL_LAYER_canvas     canvas)
set(SKARVEL_LAYER_platform   platform canvas)
set(SKARVEL_LAYER_shell      shell platform canvas)
set(SKARVEL_LAYER_saving     saving platform canvas)
# FormMouseDown reads the options window's tool; FormKeyPress shows About.
set(SKARVEL_LAYER_SkarvelKod SkarvelKod shell platform canvas
                             Palitra/palitra_controls.h About/about_box.h)
# The save button saves the surface's picture; the colour goes to its pen.
set(SKARVEL_LAYER_Palitra    Palitra saving shell platform canvas
                             SkarvelKod/skarvel_kod.h SkarvelKod/timage.h)
# The OK button closes the main window, which ends the program.
set(SKARVEL_LAYER_About      About shell platform canvas SkarvelKod/skarvel_kod.h)
set(SKARVEL_LAYER_app        app About Palitra SkarvelKod saving shell platform canvas)
# A narrow header holds what the other windows use of its window. It, and
# every header of ours it includes, sees only its own folder and the layers
# below the windows: a window that reads another's controls sees neither that
# window's save dialog nor a third window.
set(SKARVEL_NARROW_HEADERS Palitra/palitra_controls.h About/about_box.h SkarvelKod/skarvel_kod.h SkarvelKod/timage.h)
set(SKARVEL_NARROW_MAY_SEE shell platform canvas)
set(SKARVEL_LAYER_TEST_EXTRA shell/tests/widget_test.h saving/tests/bmp_reader.h)
set(SKARVEL_LAYER_WINDOW_TEST_EXTRA app/program.h SkarvelKod Palitra About)
