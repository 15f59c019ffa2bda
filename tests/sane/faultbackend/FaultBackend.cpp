// A small SANE backend for the tests: a scanner that can vanish in the
// middle of a scan and that refuses one of the values it lists.
//
// The device "quillorafault:0" is there unless the file "gone" exists in the
// folder named by QUILLORA_FAULT_DIR.  With the option "vanish-after-lines"
// above 0, a scan creates that file after so many lines and answers the next
// read with SANE_STATUS_IO_ERROR, as a scanner pulled from its cable does.
// The resolution 150 is listed but refused with SANE_STATUS_INVAL.
//
// While the file "network" exists in that folder, a second device
// "quillorafault:net" is there too, found only by a search that includes
// networks (local_only false), and that search takes as many milliseconds
// as the file's text says, as network probing does.
#include <sane/sane.h>
#include <sane/saneopts.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum Option { kCount, kMode, kResolution, kVanish, kOptionCount };

const SANE_String_Const kModes[] = {"Gray", "Color", nullptr};
const SANE_Word kResolutions[] = {4, 50, 75, 100, 150};
const SANE_Range kVanishRange = {0, 1000, 1};
constexpr int kWidth = 64;
constexpr int kHeight = 80;

SANE_Option_Descriptor g_descriptors[kOptionCount];
// The dll backend puts "quillorafault:" in front.
SANE_Device g_device = {"0", "Quillora", "Fehlerscanner", "virtual device"};
SANE_Device g_netDevice = {"net", "Quillora", "Netzscanner", "ip scanner"};
const SANE_Device *g_list[] = {&g_device, nullptr};
const SANE_Device *g_withNet[] = {&g_device, &g_netDevice, nullptr};
const SANE_Device *g_onlyNet[] = {&g_netDevice, nullptr};
const SANE_Device *g_empty[] = {nullptr};

struct Scanner {
    char mode[16] = "Gray";
    SANE_Word resolution = 50;
    SANE_Word vanishAfter = 0;
    bool scanning = false;
    int line = 0;
    int column = 0; // bytes of the current line sent
};

std::string goneFile()
{
    const char *dir = std::getenv("QUILLORA_FAULT_DIR");
    return std::string(dir ? dir : "/nonexistent") + "/gone";
}

bool gone()
{
    struct stat st;
    return ::stat(goneFile().c_str(), &st) == 0;
}

// The network search's duration in milliseconds, or -1 without a network
// device.
int networkDelay()
{
    const char *dir = std::getenv("QUILLORA_FAULT_DIR");
    FILE *f = std::fopen((std::string(dir ? dir : "/nonexistent") + "/network").c_str(), "r");
    if (!f)
        return -1;
    int ms = 0;
    if (std::fscanf(f, "%d", &ms) != 1)
        ms = 0;
    std::fclose(f);
    return std::clamp(ms, 0, 60000);
}

int bytesPerLine(const Scanner &s) { return std::strcmp(s.mode, "Color") == 0 ? 3 * kWidth : kWidth; }

std::uint8_t sample(const Scanner &s, int x, int y, int c)
{
    if (std::strcmp(s.mode, "Color") != 0)
        return std::uint8_t((x * 3 + y) & 0xFF);
    switch (c) {
    case 0:
        return std::uint8_t(x * 4);
    case 1:
        return std::uint8_t(y * 3);
    default:
        return std::uint8_t((x ^ y) * 2);
    }
}

} // namespace

extern "C" {

SANE_Status sane_quillorafault_init(SANE_Int *version, SANE_Auth_Callback)
{
    if (version)
        *version = SANE_VERSION_CODE(1, 0, 0);
    auto &d = g_descriptors;
    d[kCount] = {SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS, SANE_TYPE_INT,
                 SANE_UNIT_NONE, sizeof(SANE_Word), SANE_CAP_SOFT_DETECT, SANE_CONSTRAINT_NONE, {nullptr}};
    d[kMode] = {SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE, SANE_DESC_SCAN_MODE, SANE_TYPE_STRING, SANE_UNIT_NONE, 16,
                SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT, SANE_CONSTRAINT_STRING_LIST, {nullptr}};
    d[kMode].constraint.string_list = kModes;
    d[kResolution] = {SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION, SANE_DESC_SCAN_RESOLUTION,
                      SANE_TYPE_INT, SANE_UNIT_DPI, sizeof(SANE_Word), SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT,
                      SANE_CONSTRAINT_WORD_LIST, {nullptr}};
    d[kResolution].constraint.word_list = kResolutions;
    d[kVanish] = {"vanish-after-lines", "Vanish after lines", "Pull the cable after so many lines (0: never).",
                  SANE_TYPE_INT, SANE_UNIT_NONE, sizeof(SANE_Word), SANE_CAP_SOFT_SELECT | SANE_CAP_SOFT_DETECT,
                  SANE_CONSTRAINT_RANGE, {nullptr}};
    d[kVanish].constraint.range = &kVanishRange;
    return SANE_STATUS_GOOD;
}

void sane_quillorafault_exit() {}

SANE_Status sane_quillorafault_get_devices(const SANE_Device ***list, SANE_Bool localOnly)
{
    const int delay = localOnly ? -1 : networkDelay();
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    if (delay < 0)
        *list = gone() ? g_empty : g_list;
    else
        *list = gone() ? g_onlyNet : g_withNet;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_quillorafault_open(SANE_String_Const name, SANE_Handle *handle)
{
    if (gone() || (name && *name && std::strcmp(name, "0") != 0 && std::strcmp(name, "net") != 0))
        return SANE_STATUS_INVAL;
    *handle = new Scanner;
    return SANE_STATUS_GOOD;
}

void sane_quillorafault_close(SANE_Handle h) { delete static_cast<Scanner *>(h); }

const SANE_Option_Descriptor *sane_quillorafault_get_option_descriptor(SANE_Handle, SANE_Int n)
{
    return n >= 0 && n < kOptionCount ? &g_descriptors[n] : nullptr;
}

SANE_Status sane_quillorafault_control_option(SANE_Handle h, SANE_Int n, SANE_Action action, void *value,
                                              SANE_Int *info)
{
    auto *s = static_cast<Scanner *>(h);
    if (info)
        *info = 0;
    if (n < 0 || n >= kOptionCount || s->scanning)
        return SANE_STATUS_INVAL;
    if (action == SANE_ACTION_GET_VALUE) {
        switch (n) {
        case kCount:
            *static_cast<SANE_Word *>(value) = kOptionCount;
            break;
        case kMode:
            std::strcpy(static_cast<char *>(value), s->mode);
            break;
        case kResolution:
            *static_cast<SANE_Word *>(value) = s->resolution;
            break;
        case kVanish:
            *static_cast<SANE_Word *>(value) = s->vanishAfter;
            break;
        }
        return SANE_STATUS_GOOD;
    }
    if (action != SANE_ACTION_SET_VALUE || n == kCount)
        return SANE_STATUS_INVAL;
    switch (n) {
    case kMode: {
        const char *v = static_cast<const char *>(value);
        if (std::strcmp(v, "Gray") != 0 && std::strcmp(v, "Color") != 0)
            return SANE_STATUS_INVAL;
        std::strcpy(s->mode, v);
        if (info)
            *info = SANE_INFO_RELOAD_PARAMS;
        return SANE_STATUS_GOOD;
    }
    case kResolution: {
        const SANE_Word v = *static_cast<SANE_Word *>(value);
        // Listed, but this device will not have it.
        if (v == 150 || std::find(kResolutions + 1, kResolutions + 5, v) == kResolutions + 5)
            return SANE_STATUS_INVAL;
        s->resolution = v;
        return SANE_STATUS_GOOD;
    }
    case kVanish:
        s->vanishAfter = std::clamp(*static_cast<SANE_Word *>(value), 0, 1000);
        return SANE_STATUS_GOOD;
    }
    return SANE_STATUS_INVAL;
}

SANE_Status sane_quillorafault_get_parameters(SANE_Handle h, SANE_Parameters *p)
{
    auto *s = static_cast<Scanner *>(h);
    p->format = std::strcmp(s->mode, "Color") == 0 ? SANE_FRAME_RGB : SANE_FRAME_GRAY;
    p->last_frame = SANE_TRUE;
    p->bytes_per_line = bytesPerLine(*s);
    p->pixels_per_line = kWidth;
    p->lines = kHeight;
    p->depth = 8;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_quillorafault_start(SANE_Handle h)
{
    auto *s = static_cast<Scanner *>(h);
    if (gone())
        return SANE_STATUS_IO_ERROR;
    if (s->scanning)
        return SANE_STATUS_DEVICE_BUSY;
    s->scanning = true;
    s->line = 0;
    s->column = 0;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_quillorafault_read(SANE_Handle h, SANE_Byte *data, SANE_Int max, SANE_Int *length)
{
    auto *s = static_cast<Scanner *>(h);
    *length = 0;
    if (!s->scanning)
        return SANE_STATUS_CANCELLED;
    if (gone())
        return SANE_STATUS_IO_ERROR;
    if (s->vanishAfter > 0 && s->line >= s->vanishAfter) {
        // The cable is pulled.
        if (FILE *f = std::fopen(goneFile().c_str(), "w"))
            std::fclose(f);
        return SANE_STATUS_IO_ERROR;
    }
    if (s->line >= kHeight) {
        s->scanning = false;
        return SANE_STATUS_EOF;
    }
    const int bpl = bytesPerLine(*s);
    const bool color = std::strcmp(s->mode, "Color") == 0;
    while (*length < max && s->line < kHeight) {
        if (s->vanishAfter > 0 && s->line >= s->vanishAfter)
            break;
        const int i = s->column;
        data[(*length)++] = color ? sample(*s, i / 3, s->line, i % 3) : sample(*s, i, s->line, 0);
        if (++s->column == bpl) {
            s->column = 0;
            ++s->line;
        }
    }
    return SANE_STATUS_GOOD;
}

void sane_quillorafault_cancel(SANE_Handle h) { static_cast<Scanner *>(h)->scanning = false; }

SANE_Status sane_quillorafault_set_io_mode(SANE_Handle, SANE_Bool nonBlocking)
{
    return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

SANE_Status sane_quillorafault_get_select_fd(SANE_Handle, SANE_Int *) { return SANE_STATUS_UNSUPPORTED; }

} // extern "C"
