/*
 * skarvel_wl_input: a virtual pointer and keyboard on a wlroots compositor,
 * held for as long as the tool runs, so that the seat keeps both
 * capabilities and clients keep their pointer and keyboard.
 *
 * It reads one command per line and answers each with "ok" once the
 * compositor has handled it (or "error <why>"):
 *
 *   move X Y W H      pointer to (X, Y) of a W x H layout, logical pixels;
 *                     X and Y may have a fraction (down to 1/64 pixel)
 *   press B           button B down (1 left, 2 middle, 3 right)
 *   release B         button B up
 *   key MODS NAME...  with the modifiers MODS (bits: 1 Shift, 2 Control,
 *                     4 Alt, 8 Super) held, presses and releases each key
 *                     named by its XKB keysym name (Escape, Return, a,
 *                     U0436, ...) in turn
 *
 * Commands come from standard input and answers go to standard output, or
 * both through the socket given as --fd N.
 *
 * Keys have no fixed map: the tool keeps a keymap of its own in which every
 * keysym it was asked for has a key, and sends the compositor a new map when
 * a keysym is new.
 */

#define _GNU_SOURCE
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <wayland-client.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

enum { BTN_LEFT_CODE = 0x110, BTN_RIGHT_CODE = 0x111, BTN_MIDDLE_CODE = 0x112 };
enum { SUBPIXEL = 64 };

/* The modifiers sit on the first four keys of the map. */
static const char *const modifierNames[] = {"Shift_L", "Control_L", "Alt_L", "Super_L"};
enum { MODIFIERS = 4, MAX_KEYS = 240 };

static struct wl_display *display;
static struct wl_seat *seat;
static struct zwlr_virtual_pointer_manager_v1 *pointerManager;
static struct zwp_virtual_keyboard_manager_v1 *keyboardManager;
static struct zwlr_virtual_pointer_v1 *pointer;
static struct zwp_virtual_keyboard_v1 *keyboard;

static char *keyNames[MAX_KEYS];
static int keyCount;

static void onGlobal(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                     uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        pointerManager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
    else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        keyboardManager = wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
}

static void onGlobalRemove(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

static uint32_t now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

/* Sends the keymap with a key for each name so far: key i has XKB key code
 * 9 + i (evdev code 1 + i). */
static int uploadKeymap(void)
{
    size_t capacity = 4096 + (size_t)keyCount * 96;
    char *text = malloc(capacity);
    if (!text)
        return -1;
    size_t n = 0;
    n += (size_t)snprintf(text + n, capacity - n,
                          "xkb_keymap {\nxkb_keycodes \"skarvel\" {\n minimum = 8;\n maximum = %d;\n", 9 + MAX_KEYS);
    for (int i = 0; i < keyCount; ++i)
        n += (size_t)snprintf(text + n, capacity - n, " <K%d> = %d;\n", i, 9 + i);
    n += (size_t)snprintf(text + n, capacity - n,
                          "};\nxkb_types \"skarvel\" { include \"complete\" };\n"
                          "xkb_compatibility \"skarvel\" { include \"complete\" };\n"
                          "xkb_symbols \"skarvel\" {\n");
    for (int i = 0; i < keyCount; ++i)
        n += (size_t)snprintf(text + n, capacity - n, " key <K%d> { [ %s ] };\n", i, keyNames[i]);
    n += (size_t)snprintf(text + n, capacity - n,
                          " modifier_map Shift { <K0> };\n modifier_map Control { <K1> };\n"
                          " modifier_map Mod1 { <K2> };\n modifier_map Mod4 { <K3> };\n};\n};\n");
    const size_t size = n + 1;

    int fd = memfd_create("skarvel-keymap", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, (off_t)size) != 0) {
        free(text);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    char *map = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
        free(text);
        close(fd);
        return -1;
    }
    memcpy(map, text, size);
    munmap(map, size);
    free(text);
    zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, (uint32_t)size);
    close(fd);
    return 0;
}

/* The key (0-based) that carries the keysym name, added to the map when new. */
static int keyFor(const char *name, int *mapChanged)
{
    for (int i = 0; i < keyCount; ++i)
        if (strcmp(keyNames[i], name) == 0)
            return i;
    if (keyCount == MAX_KEYS)
        return -1;
    for (const char *c = name; *c; ++c)
        if (!((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '_'))
            return -1;
    keyNames[keyCount] = strdup(name);
    *mapChanged = 1;
    return keyCount++;
}

static void sendKey(int key, int down)
{
    zwp_virtual_keyboard_v1_key(keyboard, now(), (uint32_t)(key + 1),
                                down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

/* Waits until the compositor has handled everything sent so far. */
static int settle(void) { return wl_display_roundtrip(display) < 0 ? -1 : 0; }

static const char *runKeys(unsigned modifiers, char *names)
{
    int keys[64];
    int count = 0, mapChanged = 0;
    for (char *name = strtok(names, " \t"); name; name = strtok(NULL, " \t")) {
        if (count == 64)
            return "too many keys";
        keys[count] = keyFor(name, &mapChanged);
        if (keys[count] < 0)
            return "bad key name or no room in the keymap";
        ++count;
    }
    if (mapChanged && (uploadKeymap() != 0 || settle() != 0))
        return "cannot send the keymap";
    for (int m = 0; m < MODIFIERS; ++m)
        if (modifiers & (1u << m))
            sendKey(m, 1);
    for (int i = 0; i < count; ++i) {
        sendKey(keys[i], 1);
        if (settle() != 0)
            return "connection lost";
        sendKey(keys[i], 0);
        if (settle() != 0)
            return "connection lost";
    }
    for (int m = MODIFIERS - 1; m >= 0; --m)
        if (modifiers & (1u << m))
            sendKey(m, 0);
    return settle() == 0 ? NULL : "connection lost";
}

static uint32_t buttonCode(int button)
{
    switch (button) {
    case 1: return BTN_LEFT_CODE;
    case 2: return BTN_MIDDLE_CODE;
    case 3: return BTN_RIGHT_CODE;
    default: return 0;
    }
}

/* Runs one command; NULL when it went well, else why not. */
static const char *run(char *line)
{
    char verb[16];
    int used = 0;
    if (sscanf(line, "%15s %n", verb, &used) != 1)
        return "empty command";
    char *rest = line + used;
    if (strcmp(verb, "move") == 0) {
        double x, y, w, h;
        if (sscanf(rest, "%lf %lf %lf %lf", &x, &y, &w, &h) != 4 || w <= 0 || h <= 0 || x < 0 || y < 0 || x > w ||
            y > h)
            return "usage: move X Y W H";
        zwlr_virtual_pointer_v1_motion_absolute(pointer, now(), (uint32_t)(x * SUBPIXEL + 0.5),
                                                (uint32_t)(y * SUBPIXEL + 0.5), (uint32_t)(w * SUBPIXEL + 0.5),
                                                (uint32_t)(h * SUBPIXEL + 0.5));
        zwlr_virtual_pointer_v1_frame(pointer);
        return settle() == 0 ? NULL : "connection lost";
    }
    if (strcmp(verb, "press") == 0 || strcmp(verb, "release") == 0) {
        int button = 0;
        if (sscanf(rest, "%d", &button) != 1 || !buttonCode(button))
            return "usage: press|release 1|2|3";
        zwlr_virtual_pointer_v1_button(pointer, now(), buttonCode(button),
                                       verb[0] == 'p' ? WL_POINTER_BUTTON_STATE_PRESSED
                                                      : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer);
        return settle() == 0 ? NULL : "connection lost";
    }
    if (strcmp(verb, "key") == 0) {
        unsigned modifiers = 0;
        int skip = 0;
        if (sscanf(rest, "%u %n", &modifiers, &skip) != 1 || modifiers > 15)
            return "usage: key MODS NAME...";
        return runKeys(modifiers, rest + skip);
    }
    return "unknown command";
}

int main(int argc, char **argv)
{
    FILE *in = stdin, *out = stdout;
    if (argc == 3 && strcmp(argv[1], "--fd") == 0) {
        const int fd = atoi(argv[2]);
        in = fdopen(fd, "r");
        out = fdopen(dup(fd), "w");
        if (!in || !out) {
            fprintf(stderr, "skarvel_wl_input: cannot use fd %d: %s\n", fd, strerror(errno));
            return 2;
        }
    } else if (argc != 1) {
        fprintf(stderr, "usage: skarvel_wl_input [--fd N]   (WAYLAND_DISPLAY names the compositor)\n");
        return 2;
    }

    display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "skarvel_wl_input: cannot connect to the Wayland display\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, NULL);
    wl_display_roundtrip(display);
    if (!seat || !pointerManager || !keyboardManager) {
        fprintf(stderr, "skarvel_wl_input: the compositor lacks a seat or the virtual pointer or keyboard protocol\n");
        return 1;
    }
    pointer = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(pointerManager, seat);
    keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(keyboardManager, seat);
    for (int m = 0; m < MODIFIERS; ++m)
        keyNames[keyCount++] = strdup(modifierNames[m]);
    if (uploadKeymap() != 0 || settle() != 0) {
        fprintf(stderr, "skarvel_wl_input: cannot plug in the devices\n");
        return 1;
    }
    fprintf(out, "ready\n");
    fflush(out);

    char line[4096];
    while (fgets(line, sizeof line, in)) {
        line[strcspn(line, "\r\n")] = '\0';
        const char *why = run(line);
        if (why)
            fprintf(out, "error %s\n", why);
        else
            fprintf(out, "ok\n");
        fflush(out);
        if (why && strcmp(why, "connection lost") == 0)
            return 1;
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwp_virtual_keyboard_v1_destroy(keyboard);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
