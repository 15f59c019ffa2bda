#include "sources/testsource/Script.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace testsource {
namespace {

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return s;
}

std::string trim(const std::string &s)
{
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::optional<long> number(const std::string &word)
{
    if (word.empty())
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(word.c_str(), &end, 0);
    if (errno != 0 || !end || *end != 0)
        return std::nullopt;
    return v;
}

struct Named {
    const char *name;
    long value;
};

constexpr Named kConditions[] = {
    {"TWCC_SUCCESS", TWCC_SUCCESS},
    {"TWCC_BUMMER", TWCC_BUMMER},
    {"TWCC_LOWMEMORY", TWCC_LOWMEMORY},
    {"TWCC_NODS", TWCC_NODS},
    {"TWCC_MAXCONNECTIONS", TWCC_MAXCONNECTIONS},
    {"TWCC_OPERATIONERROR", TWCC_OPERATIONERROR},
    {"TWCC_BADCAP", TWCC_BADCAP},
    {"TWCC_BADPROTOCOL", TWCC_BADPROTOCOL},
    {"TWCC_BADVALUE", TWCC_BADVALUE},
    {"TWCC_SEQERROR", TWCC_SEQERROR},
    {"TWCC_BADDEST", TWCC_BADDEST},
    {"TWCC_CAPUNSUPPORTED", TWCC_CAPUNSUPPORTED},
    {"TWCC_CAPBADOPERATION", TWCC_CAPBADOPERATION},
    {"TWCC_CAPSEQERROR", TWCC_CAPSEQERROR},
    {"TWCC_DENIED", TWCC_DENIED},
    {"TWCC_FILEEXISTS", TWCC_FILEEXISTS},
    {"TWCC_FILENOTFOUND", TWCC_FILENOTFOUND},
    {"TWCC_NOTEMPTY", TWCC_NOTEMPTY},
    {"TWCC_PAPERJAM", TWCC_PAPERJAM},
    {"TWCC_PAPERDOUBLEFEED", TWCC_PAPERDOUBLEFEED},
};

constexpr Named kCaps[] = {
    {"CAP_XFERCOUNT", CAP_XFERCOUNT},
    {"ICAP_COMPRESSION", ICAP_COMPRESSION},
    {"ICAP_PIXELTYPE", ICAP_PIXELTYPE},
    {"ICAP_UNITS", ICAP_UNITS},
    {"ICAP_XFERMECH", ICAP_XFERMECH},
    {"CAP_FEEDERENABLED", CAP_FEEDERENABLED},
    {"CAP_FEEDERLOADED", CAP_FEEDERLOADED},
    {"CAP_AUTOFEED", CAP_AUTOFEED},
    {"CAP_INDICATORS", CAP_INDICATORS},
    {"CAP_UICONTROLLABLE", CAP_UICONTROLLABLE},
    {"ICAP_ORIENTATION", ICAP_ORIENTATION},
    {"ICAP_PHYSICALWIDTH", ICAP_PHYSICALWIDTH},
    {"ICAP_PHYSICALHEIGHT", ICAP_PHYSICALHEIGHT},
    {"ICAP_XRESOLUTION", ICAP_XRESOLUTION},
    {"ICAP_YRESOLUTION", ICAP_YRESOLUTION},
    {"ICAP_PIXELFLAVOR", ICAP_PIXELFLAVOR},
    {"ICAP_SUPPORTEDSIZES", ICAP_SUPPORTEDSIZES},
    {"ICAP_BITDEPTH", ICAP_BITDEPTH},
    {"ICAP_UNDEFINEDIMAGESIZE", ICAP_UNDEFINEDIMAGESIZE},
    {"ICAP_AUTOMATICBORDERDETECTION", ICAP_AUTOMATICBORDERDETECTION},
    {"ICAP_AUTOMATICDESKEW", ICAP_AUTOMATICDESKEW},
    {"ICAP_AUTOMATICROTATE", ICAP_AUTOMATICROTATE},
    {"ICAP_AUTOSIZE", ICAP_AUTOSIZE},
};

constexpr Named kTypes[] = {
    {"TWTY_INT8", TWTY_INT8},     {"TWTY_INT16", TWTY_INT16}, {"TWTY_INT32", TWTY_INT32},
    {"TWTY_UINT8", TWTY_UINT8},   {"TWTY_UINT16", TWTY_UINT16}, {"TWTY_UINT32", TWTY_UINT32},
    {"TWTY_BOOL", TWTY_BOOL},     {"TWTY_FIX32", TWTY_FIX32},
};

template <std::size_t N>
std::optional<long> lookup(const Named (&table)[N], const std::string &word)
{
    const std::string w = upper(word);
    for (const Named &n : table) {
        if (w == n.name)
            return n.value;
    }
    return number(word);
}

const char *const kSteps[] = {"OPENDS",       "CLOSEDS",         "ENABLEDS",     "DISABLEDS",     "PROCESSEVENT",
                              "CAPABILITY",   "IMAGEINFO",       "IMAGELAYOUT",  "SETUPMEMXFER",  "SETUPFILEXFER",
                              "IMAGENATIVEXFER", "IMAGEMEMXFER", "IMAGEFILEXFER", "ENDXFER",      "RESET",
                              "PENDINGXFERS", "STATUS",          "SCAN"};

bool knownStep(const std::string &step)
{
    return std::any_of(std::begin(kSteps), std::end(kSteps), [&](const char *s) { return step == s; });
}

TW_UINT32 fix32Bits(double value)
{
    const long v = std::lround(value * 65536.0);
    return static_cast<TW_UINT32>(v);
}

} // namespace

std::optional<Fault> SourceSpec::FaultAt(const std::string &step, int page) const
{
    for (const Fault &f : faults) {
        if (f.step == step && (f.page == 0 || f.page == page))
            return f;
    }
    return std::nullopt;
}

SourceSpec DefaultSource()
{
    SourceSpec s;
    s.name = "Quillora Testscanner";
    s.pages.push_back(PageSpec{});
    return s;
}

Script ParseScript(const std::string &text)
{
    Script script;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    SourceSpec *current = nullptr;
    auto problem = [&](const std::string &why) {
        script.problems.push_back("line " + std::to_string(lineNo) + ": " + why);
    };
    while (std::getline(in, raw)) {
        ++lineNo;
        const auto hash = raw.find('#');
        const std::string line = trim(hash == std::string::npos ? raw : raw.substr(0, hash));
        if (line.empty())
            continue;
        std::istringstream words(line);
        std::string keyword;
        words >> keyword;
        keyword = upper(keyword);
        std::vector<std::string> args;
        for (std::string w; words >> w;)
            args.push_back(w);
        const std::string rest = trim(line.substr(std::min(line.size(), line.find_first_of(" \t") == std::string::npos
                                                                            ? line.size()
                                                                            : line.find_first_of(" \t"))));

        if (keyword == "SOURCE") {
            if (rest.empty()) {
                problem("a source needs a name");
                current = nullptr;
                continue;
            }
            script.sources.emplace_back();
            current = &script.sources.back();
            current->name = rest.substr(0, 33);
            continue;
        }
        if (!current) {
            problem("'" + keyword + "' before the first source");
            continue;
        }
        SourceSpec &s = *current;
        if (keyword == "MANUFACTURER") {
            s.manufacturer = rest.substr(0, 33);
        } else if (keyword == "FAMILY") {
            s.family = rest.substr(0, 33);
        } else if (keyword == "VERSION") {
            const auto major = args.size() >= 2 ? number(args[0]) : std::nullopt;
            const auto minor = args.size() >= 2 ? number(args[1]) : std::nullopt;
            if (!major || !minor || *major < 0 || *major > 0xFFFF || *minor < 0 || *minor > 0xFFFF) {
                problem("version <major> <minor> [<info>]");
                continue;
            }
            s.major = TW_UINT16(*major);
            s.minor = TW_UINT16(*minor);
            std::string info;
            for (std::size_t i = 2; i < args.size(); ++i)
                info += (i > 2 ? " " : "") + args[i];
            if (!info.empty())
                s.versionInfo = info.substr(0, 33);
        } else if (keyword == "TWAIN2") {
            s.twain2 = true;
        } else if (keyword == "TIFF") {
            const auto size = args.size() == 2 ? number(args[1]) : std::nullopt;
            const std::string kind = args.empty() ? std::string() : upper(args[0]);
            if (!size || (kind != "STRIPS" && kind != "TILES") || *size < 1 || *size > 4096 ||
                (kind == "TILES" && *size % 16 != 0)) {
                problem("tiff strips <rows> | tiff tiles <multiple of 16>");
                continue;
            }
            s.tiffTiles = kind == "TILES";
            s.tiffBlock = int(*size);
        } else if (keyword == "XFERMECH") {
            bool native = false, memory = false, file = false, ok = !args.empty();
            for (const std::string &a : args) {
                const std::string m = upper(a);
                native |= m == "NATIVE";
                memory |= m == "MEMORY";
                file |= m == "FILE";
                ok = ok && (m == "NATIVE" || m == "MEMORY" || m == "FILE");
            }
            if (!ok) {
                problem("xfermech native|memory|file ...");
                continue;
            }
            s.native = native;
            s.memory = memory;
            s.file = file;
        } else if (keyword == "RESOLUTION") {
            const auto dpi = args.size() == 1 ? number(args[0]) : std::nullopt;
            if (!dpi || *dpi < 1 || *dpi > 30000) {
                problem("resolution <dpi>");
                continue;
            }
            s.resolution = double(*dpi);
        } else if (keyword == "BUFFER") {
            const auto bytes = args.size() == 1 ? number(args[0]) : std::nullopt;
            if (!bytes || *bytes < 1 || *bytes > (64L << 20)) {
                problem("buffer <bytes>");
                continue;
            }
            s.buffer = TW_UINT32(*bytes);
        } else if (keyword == "PAGE") {
            PageSpec p;
            const auto w = args.size() >= 4 ? number(args[0]) : std::nullopt;
            const auto h = args.size() >= 4 ? number(args[1]) : std::nullopt;
            if (!w || !h || *w < 1 || *h < 1 || *w > 20000 || *h > 20000) {
                problem("page <width> <height> <rgb|gray|bw> <fill>");
                continue;
            }
            p.width = int(*w);
            p.height = int(*h);
            const std::string kind = upper(args[2]);
            if (kind == "RGB")
                p.kind = PixelKind::Rgb;
            else if (kind == "GRAY")
                p.kind = PixelKind::Gray;
            else if (kind == "BW")
                p.kind = PixelKind::Bw;
            else {
                problem("pixel type rgb, gray or bw");
                continue;
            }
            const std::string fill = upper(args[3]);
            bool ok = true;
            if (fill == "GRADIENT" && args.size() == 4) {
                p.fill = Fill::Gradient;
            } else if (fill == "SOLID") {
                p.fill = Fill::Solid;
                const std::size_t n = p.kind == PixelKind::Rgb ? 3 : 1;
                ok = args.size() == 4 + n;
                for (std::size_t i = 0; ok && i < n; ++i) {
                    const auto v = number(args[4 + i]);
                    ok = v && *v >= 0 && *v <= (p.kind == PixelKind::Bw ? 1 : 255);
                    if (ok)
                        p.value[i] = std::uint8_t(*v);
                }
            } else if (fill == "CHECKER" && args.size() == 5) {
                p.fill = Fill::Checker;
                const auto cell = number(args[4]);
                ok = cell && *cell >= 1 && *cell <= 10000;
                if (ok)
                    p.cell = int(*cell);
            } else {
                ok = false;
            }
            if (!ok) {
                problem("fill gradient | solid <values> | checker <cell>");
                continue;
            }
            s.pages.push_back(p);
        } else if (keyword == "FAIL" || keyword == "CANCEL" || keyword == "CHECKSTATUS") {
            Fault f;
            f.rc = keyword == "FAIL" ? TWRC_FAILURE : keyword == "CANCEL" ? TWRC_CANCEL : TWRC_CHECKSTATUS;
            f.step = args.empty() ? std::string() : upper(args[0]);
            bool ok = knownStep(f.step);
            for (std::size_t i = 1; ok && i < args.size(); ++i) {
                if (upper(args[i]).rfind("PAGE=", 0) == 0) {
                    const auto n = number(args[i].substr(5));
                    ok = n && *n >= 1;
                    if (ok)
                        f.page = int(*n);
                } else if (keyword == "FAIL") {
                    const auto c = lookup(kConditions, args[i]);
                    ok = c && *c >= 0 && *c <= 0xFFFF;
                    if (ok)
                        f.condition = TW_UINT16(*c);
                } else {
                    ok = false;
                }
            }
            if (!ok) {
                problem("fail|cancel|checkstatus <step> [<condition>] [page=<n>]");
                continue;
            }
            s.faults.push_back(f);
        } else if (keyword == "CAP") {
            const auto cap = args.size() == 3 ? lookup(kCaps, args[0]) : std::nullopt;
            const auto type = args.size() == 3 ? lookup(kTypes, args[1]) : std::nullopt;
            if (!cap || !type || *cap < 0 || *cap > 0xFFFF || *type < 0 || *type > TWTY_FIX32) {
                problem("cap <capability> <type> <value>");
                continue;
            }
            CapValue v;
            v.itemType = TW_UINT16(*type);
            if (v.itemType == TWTY_FIX32) {
                char *end = nullptr;
                const double d = std::strtod(args[2].c_str(), &end);
                if (!end || *end != 0 || !std::isfinite(d) || std::fabs(d) > 32767) {
                    problem("a FIX32 value");
                    continue;
                }
                v.value = fix32Bits(d);
            } else {
                const auto n = number(args[2]);
                if (!n) {
                    problem("a numeric value");
                    continue;
                }
                v.value = TW_UINT32(*n);
            }
            s.caps[TW_UINT16(*cap)] = v;
            s.removedCaps.erase(TW_UINT16(*cap));
        } else if (keyword == "NOCAP") {
            const auto cap = args.size() == 1 ? lookup(kCaps, args[0]) : std::nullopt;
            if (!cap || *cap < 0 || *cap > 0xFFFF) {
                problem("nocap <capability>");
                continue;
            }
            s.removedCaps.insert(TW_UINT16(*cap));
            s.caps.erase(TW_UINT16(*cap));
        } else {
            problem("unknown statement '" + keyword + "'");
        }
    }
    for (SourceSpec &s : script.sources) {
        if (s.pages.empty())
            s.pages.push_back(PageSpec{});
    }
    return script;
}

} // namespace testsource
