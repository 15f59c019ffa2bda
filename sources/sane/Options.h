// A device's options as plain values, so that the GUI thread can look at
// them while only the worker thread talks to SANE.
#pragma once

#include <sane/sane.h>

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace sane_source {

// The value of an option: words for bool, int and fixed options (one per
// element of an array), text for strings.
struct OptionValue {
    std::vector<SANE_Word> words;
    std::string text;
    bool operator==(const OptionValue &) const = default;
};

struct OptionInfo {
    int index = 0;
    std::string name;
    std::string title;
    std::string description;
    SANE_Value_Type type = SANE_TYPE_INT;
    SANE_Unit unit = SANE_UNIT_NONE;
    SANE_Int size = 0;
    SANE_Int cap = 0;
    SANE_Constraint_Type constraintType = SANE_CONSTRAINT_NONE;
    SANE_Range range{0, 0, 0};
    std::vector<SANE_Word> wordList; // without the count
    std::vector<std::string> stringList;
    OptionValue value; // empty when it cannot be read (inactive, write-only)

    bool active() const { return SANE_OPTION_IS_ACTIVE(cap); }
    bool settable() const { return SANE_OPTION_IS_SETTABLE(cap); }
    bool readable() const { return (cap & SANE_CAP_SOFT_DETECT) != 0; }
    // Number of elements (1 for scalars and strings).
    int elements() const;
    // A number option's first element as a double (fixed options converted).
    double number() const;
};

struct OptionSnapshot {
    std::vector<OptionInfo> options; // in the device's order, option 0 left out

    const OptionInfo *find(const std::string &name) const;
    // Active and settable.
    const OptionInfo *usable(const std::string &name) const;
};

// Well-known option names (SANE's standard names).
namespace opt {
inline const std::string mode = "mode";
inline const std::string depth = "depth";
inline const std::string resolution = "resolution";
inline const std::string xResolution = "x-resolution";
inline const std::string yResolution = "y-resolution";
inline const std::string tlx = "tl-x";
inline const std::string tly = "tl-y";
inline const std::string brx = "br-x";
inline const std::string bry = "br-y";
inline const std::string source = "source";
inline const std::string brightness = "brightness";
inline const std::string contrast = "contrast";
inline const std::string preview = "preview";
} // namespace opt

// The kind of a value of the "source" option.
enum class SourceKind { Flatbed, Feeder, DeviceAuto, Other };
SourceKind classifySource(const std::string &value);

// Kinds of the values of the "mode" option.
enum class ModeKind { Lineart, Gray, Color, Other };
ModeKind classifyMode(const std::string &value);

// Number conversions for an option's words.
double wordToDouble(const OptionInfo &o, SANE_Word w);
SANE_Word doubleToWord(const OptionInfo &o, double v);

// The value nearest to |v| that the option's constraint allows.
double nearestAllowed(const OptionInfo &o, double v);

// Readable text of a value ("300", "Color", "ja").
QString valueText(const OptionInfo &o, const OptionValue &v);

} // namespace sane_source
