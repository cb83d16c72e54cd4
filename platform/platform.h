#pragma once

// The small layer in place of the window system's own calls: what the
// program relies on of the screen, message boxes, the save dialog, the
// shell's "open", the beep and the launcher. Each is a few lines on Qt (or on
// X11 where Qt falls short). Modal boxes, the dialog, "open" and the beep go
// through replaceable hooks so that widget tests can answer them.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

#include "canvas/pixel_format.h"

class TCanvas;

namespace platform {

// --- Screen ---------------------------------------------------------------

// The primary display's rectangle in device pixels (its origin is the screen
// origin, its size what SM_CXSCREEN x SM_CYSCREEN would report).
QRect primaryScreenRect();

// The pixel format the display really stores: on X11 the server's pixmap
// format for the root depth (depth 24 stores 32 bits per pixel).
PixelFormat displayPixelFormat();

// An unpainted window is not see-through on X11, so the screen is read at the
// last moment before the surface is first mapped (on a Wayland desktop through
// the desktop portal, see portal_screenshot.h); a later copy from the
// screen context uses that reading. Returns false if the screen could not be
// read (the copy then leaves its destination as it was).
bool readScreenBeforeMapping();
// The screen read itself can be replaced, so that tests can make it fail (a
// null image, or an error raised); an empty hook restores the real one.
using ScreenReadHook = std::function<QImage()>;
void setScreenReadHook(ScreenReadHook hook);
// The reading taken by readScreenBeforeMapping, or a null image.
const QImage &screenReading();
// Why the last read failed (empty if it did not), handed over once. On
// Wayland a read can fail in ways a person has to hear of: no portal, a
// refusal, no answer. *outOfMemory tells whether it failed for want of memory
// for the whole frame (the reading is then not taken at all).
QString takeScreenReadFailure(bool *outOfMemory = nullptr);
// The bytes of one whole frame of the primary display at 32 bits per pixel,
// as a window covering it needs for its image.
std::uint64_t screenFrameBytes();
// Whether nothing of a window reaches the screen before its first frame is
// committed (Qt's Wayland platform): the surface may then be shown before the
// screen is read, as long as the reading is taken before that frame.
bool windowInvisibleUntilFirstFrame();
// Starts the reading early where it takes long (the desktop portal on
// Wayland); readScreenBeforeMapping then collects it.
void startScreenRead();
// Lets the reading go once nothing needs it any more.
void forgetScreenReading();
// Hands memory the program has freed (whole frames, say) back to the system.
void returnFreedMemory();
// Under an address-space limit, keeps the heap in at most two arenas: each
// further arena the C library makes for a thread reserves 64 MB of address
// space that the limit counts, though little of it is ever used. Call before
// any thread starts.
void fitHeapToLimits();

// The whole-screen drawing context, held only around a block copy.
struct ScreenContext;
ScreenContext *GetDC();
void ReleaseDC(ScreenContext *dc);
// SRCCOPY of w x h pixels from the screen context at (sx, sy) onto the canvas's
// bitmap at (x, y), clipped, converted to the bitmap's format.
void BitBlt(TCanvas &dest, int x, int y, int w, int h, ScreenContext *src, int sx, int sy);

// --- Message box ------------------------------------------------------------

// Flags and results as the program uses them.
enum : unsigned { MB_OK = 0x0, MB_YESNO = 0x4, MB_ICONERROR = 0x10, MB_TASKMODAL = 0x2000 };
enum : int { IDOK = 1, IDYES = 6, IDNO = 7 };

// A modal message box over all of the program's windows: text, caption and
// flags in, the number of the pressed button out.
int MessageBox(const QString &text, const QString &caption, unsigned flags);
using MessageBoxHook = std::function<int(const QString &text, const QString &caption, unsigned flags)>;
// Replaces the real box (an empty hook restores it).
void setMessageBoxHook(MessageBoxHook hook);

// --- Save dialog --------------------------------------------------------------

struct SaveDialogRequest {
    QString title;
    QString filter;      // "Label|pattern" pairs, as the window layout gives them
    QString initialDir;  // empty: the platform chooses
    QString fileName;    // offered as the initial name
    // Where the dialog's outer top-left corner goes for its outer size; the
    // platform's choice when empty.
    std::function<QPoint(const QSize &outer)> place;
    QString defaultExt;  // appended by the dialog to a name without one; empty: nothing
};
// Shows the save dialog modally over all of the program's windows, centred
// horizontally on the main window's monitor with a third of the free height
// above it. It never asks before a file is replaced. Returns the full name the
// user accepted, or nothing when the dialog was cancelled or closed.
std::optional<QString> GetSaveFileName(const SaveDialogRequest &request);
using SaveDialogHook = std::function<std::optional<QString>(const SaveDialogRequest &)>;
void setSaveDialogHook(SaveDialogHook hook);

// --- Shell, beep, launcher ------------------------------------------------

// The shell's "open" of a target (a mailto: or web address): on X11 the
// desktop's URL handler, xdg-open. Failures are silent.
void ShellOpen(const QString &target);
using ShellOpenHook = std::function<void(const QString &target)>;
void setShellOpenHook(ShellOpenHook hook);

// The platform's default beep.
void MessageBeep();
using BeepHook = std::function<void()>;
void setBeepHook(BeepHook hook);

// The launcher's show command: 7 (minimised, not activated) when the program
// was started iconified (the X toolkit's "-iconic" option), otherwise 1.
enum : int { SW_SHOWNORMAL = 1, SW_SHOWMAXIMIZED = 3, SW_SHOWMINNOACTIVE = 7 };
int launcherShowCommand(int argc, char **argv);

// Whether a display can be reached at all; when not, `why` says why. Checked
// before any window is made so that the program can say so and exit.
bool displayAvailable(QString *why);

// Whether the program's windows can paint on the display: Qt's widgets paint
// only on a true-colour visual of 15 bits or more, and on an 8-bit
// (PseudoColor) display they would show a window that draws nothing. When
// not, `why` names the display's depth and what is needed. Checked with
// displayAvailable, before any window is made.
bool displayPaintable(QString *why);

} // namespace platform
