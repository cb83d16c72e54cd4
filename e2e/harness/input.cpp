// Synthetic pointer and keyboard input through XTest.

#include "display_impl.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <set>

namespace e2e {

namespace {

struct Stroke {
    KeyCode code = 0;
    bool shift = false;
};

struct KeyboardMap {
    int minCode = 0;
    int maxCode = 0;
    int perCode = 0;
    std::vector<KeySym> syms;

    explicit KeyboardMap(Display *dpy)
    {
        XDisplayKeycodes(dpy, &minCode, &maxCode);
        KeySym *map = XGetKeyboardMapping(dpy, static_cast<KeyCode>(minCode), maxCode - minCode + 1, &perCode);
        if (!map)
            throw Error("cannot read the keyboard map");
        syms.assign(map, map + static_cast<std::size_t>(maxCode - minCode + 1) * static_cast<std::size_t>(perCode));
        XFree(map);
    }
    KeySym at(int code, int column) const
    {
        return syms[static_cast<std::size_t>(code - minCode) * static_cast<std::size_t>(perCode) +
                    static_cast<std::size_t>(column)];
    }
    // An unshifted place first, a shifted one otherwise.
    std::optional<Stroke> find(KeySym keysym) const
    {
        for (int column = 0; column < std::min(perCode, 2); ++column)
            for (int code = minCode; code <= maxCode; ++code)
                if (at(code, column) == keysym)
                    return Stroke{static_cast<KeyCode>(code), column == 1};
        return std::nullopt;
    }
    bool empty(int code) const
    {
        for (int column = 0; column < perCode; ++column)
            if (at(code, column) != NoSymbol)
                return false;
        return true;
    }
};

// The keysym that types one Unicode character.
KeySym keysymFor(char32_t c)
{
    if (c == U'\n')
        return XK_Return;
    if (c == U'\t')
        return XK_Tab;
    if (c < 0x20 || (c >= 0x7f && c < 0xa0))
        throw Error("typeText cannot type control character " + std::to_string(static_cast<unsigned>(c)));
    if (c < 0x100)
        return c; // Latin-1 keysyms are the code points
    return 0x01000000 | c;
}

std::vector<char32_t> decodeUtf8(const std::string &text)
{
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size())
            throw Error("typeText: the text is not valid UTF-8");
        char32_t c = length == 1 ? lead : lead & (0x7f >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xc0) != 0x80)
                throw Error("typeText: the text is not valid UTF-8");
            c = c << 6 | (next & 0x3f);
        }
        const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < smallest[length] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
            throw Error("typeText: the text is not valid UTF-8");
        out.push_back(c);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

Stroke strokeFor(VirtualDisplay::Impl &d, KeySym keysym, const std::set<KeySym> &keep)
{
    const KeyboardMap map(d.dpy);
    if (const auto found = map.find(keysym)) {
        if (d.boundKeys.count(keysym))
            d.lastUse[found->code] = ++d.useCounter;
        return *found;
    }

    // Bind it to a spare keycode: one without symbols and no modifier key.
    std::set<int> modifierCodes;
    if (XModifierKeymap *modifiers = XGetModifierMapping(d.dpy)) {
        for (int i = 0; i < 8 * modifiers->max_keypermod; ++i)
            modifierCodes.insert(modifiers->modifiermap[i]);
        XFreeModifiermap(modifiers);
    }
    std::optional<KeyCode> code;
    for (int c = map.maxCode; c >= map.minCode && !code; --c)
        if (map.empty(c) && !modifierCodes.count(c))
            code = static_cast<KeyCode>(c);
    if (!code) {
        // All spare keycodes are taken: reuse the one used longest ago that
        // the current text does not need.
        std::optional<std::pair<KeySym, KeyCode>> oldest;
        for (const auto &[sym, c] : d.boundKeys)
            if (!keep.count(sym) && (!oldest || d.lastUse[c] < d.lastUse[oldest->second]))
                oldest = std::pair{sym, c};
        if (!oldest)
            throw Error("no spare keycode left to type keysym " + std::to_string(keysym));
        d.boundKeys.erase(oldest->first);
        code = oldest->second;
    }
    KeySym syms[2] = {keysym, keysym}; // the same with and without Shift
    XChangeKeyboardMapping(d.dpy, *code, 2, syms, 1);
    XSync(d.dpy, False);
    d.mapUnconfirmed = true;
    d.boundKeys[keysym] = *code;
    d.lastUse[*code] = ++d.useCounter;
    return {*code, false};
}

KeySym modifierKeysym(unsigned modifier)
{
    switch (modifier) {
    case ShiftModifier:
        return XK_Shift_L;
    case ControlModifier:
        return XK_Control_L;
    case AltModifier:
        return XK_Alt_L;
    default:
        return XK_Super_L;
    }
}

void sendKey(VirtualDisplay::Impl &d, KeyCode code, bool down)
{
    XTestFakeKeyEvent(d.dpy, code, down ? True : False, CurrentTime);
    XSync(d.dpy, False);
}

void strike(VirtualDisplay::Impl &d, KeySym keysym, unsigned modifiers, const std::set<KeySym> &keep)
{
    const Stroke stroke = strokeFor(d, keysym, keep);
    if (stroke.shift)
        modifiers |= ShiftModifier;
    d.confirmKeyboardMapping();
    std::vector<KeyCode> held;
    for (unsigned m : {ControlModifier, AltModifier, SuperModifier, ShiftModifier}) {
        if (!(modifiers & m))
            continue;
        const auto found = KeyboardMap(d.dpy).find(modifierKeysym(m));
        if (!found)
            throw Error("the keyboard map has no key for modifier " + std::to_string(m));
        sendKey(d, found->code, true);
        held.push_back(found->code);
    }
    sendKey(d, stroke.code, true);
    sendKey(d, stroke.code, false);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        sendKey(d, *it, false);
    d.drainMappingNotify();
}

} // namespace

void VirtualDisplay::moveTo(int x, int y)
{
    XTestFakeMotionEvent(d->dpy, d->screen, x, y, CurrentTime);
    sync();
    // While a synchronous grab freezes the pointer (openbox's click-to-focus
    // grab holds every press until it has focused the window), the server
    // queues motion and merges queued motions into one. Waiting until this
    // motion has been processed keeps every step of a drag a separate event.
    const Point target{std::clamp(x, 0, d->width - 1), std::clamp(y, 0, d->height - 1)};
    waitUntil([&] { return pointer() == target; }, 2s, 2ms);
}

Point VirtualDisplay::pointer() const
{
    Window rootReturn, child;
    int rx = 0, ry = 0, wx, wy;
    unsigned mask;
    XQueryPointer(d->dpy, d->root, &rootReturn, &child, &rx, &ry, &wx, &wy, &mask);
    return {rx, ry};
}

void VirtualDisplay::press(int button)
{
    XTestFakeButtonEvent(d->dpy, static_cast<unsigned>(button), True, CurrentTime);
    sync();
}

void VirtualDisplay::release(int button)
{
    XTestFakeButtonEvent(d->dpy, static_cast<unsigned>(button), False, CurrentTime);
    sync();
    // A window manager's click-to-focus grab freezes the pointer on a press
    // and replays the press to the program later, while the keyboard goes on:
    // keys typed at once would overtake the click. The server has handled the
    // release (and so delivered the click) once the button shows released.
    const unsigned mask = button >= 1 && button <= 5 ? (Button1Mask << (button - 1)) : 0;
    if (mask == 0)
        return;
    waitUntil(
        [&] {
            Window root, child;
            int rootX, rootY, winX, winY;
            unsigned state = 0;
            XQueryPointer(d->dpy, DefaultRootWindow(d->dpy), &root, &child, &rootX, &rootY, &winX, &winY, &state);
            return (state & mask) == 0;
        },
        2s, 1ms);
}

void VirtualDisplay::click(int x, int y, int button)
{
    moveTo(x, y);
    press(button);
    release(button);
}

void VirtualDisplay::drag(Point from, Point to, int steps, int button)
{
    steps = std::max(steps, 1);
    moveTo(from);
    press(button);
    for (int i = 1; i <= steps; ++i)
        moveTo(from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps);
    release(button);
}

void VirtualDisplay::key(unsigned long keysym, unsigned modifiers)
{
    strike(*d, keysym, modifiers, {keysym});
}

void VirtualDisplay::typeText(const std::string &utf8)
{
    std::vector<KeySym> keysyms;
    for (char32_t c : decodeUtf8(utf8))
        keysyms.push_back(keysymFor(c));
    const std::set<KeySym> keep(keysyms.begin(), keysyms.end());
    // Every binding the text needs is made before the first key goes out, so
    // that whenever a client reads the changed map, it has them all.
    for (KeySym k : keep)
        strokeFor(*d, k, keep);
    for (KeySym k : keysyms)
        strike(*d, k, NoModifier, keep);
}

void VirtualDisplay::restoreKeyboardMapping()
{
    for (const auto &[keysym, code] : d->boundKeys) {
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(d->dpy, code, 1, &none, 1);
        d->mapUnconfirmed = true;
    }
    d->boundKeys.clear();
    d->lastUse.clear();
    sync();
}

} // namespace e2e
