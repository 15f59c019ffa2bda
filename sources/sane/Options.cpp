#include "sources/sane/Options.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace sane_source {

int OptionInfo::elements() const
{
    if (type == SANE_TYPE_STRING || type == SANE_TYPE_BUTTON || type == SANE_TYPE_GROUP)
        return 1;
    return std::max<int>(1, size / int(sizeof(SANE_Word)));
}

double OptionInfo::number() const
{
    if (value.words.empty())
        return 0;
    return wordToDouble(*this, value.words.front());
}

const OptionInfo *OptionSnapshot::find(const std::string &name) const
{
    for (const OptionInfo &o : options)
        if (o.name == name && o.type != SANE_TYPE_GROUP)
            return &o;
    return nullptr;
}

const OptionInfo *OptionSnapshot::usable(const std::string &name) const
{
    const OptionInfo *o = find(name);
    return o && o->active() && o->settable() ? o : nullptr;
}

SourceKind classifySource(const std::string &value)
{
    const QString v = QString::fromStdString(value).toLower();
    if (v.contains(QLatin1String("flatbed")) || v.contains(QLatin1String("flachbett")) || v == QLatin1String("normal"))
        return SourceKind::Flatbed;
    if (v.contains(QLatin1String("adf")) || v.contains(QLatin1String("feeder")) || v.contains(QLatin1String("einzug")) ||
        v.contains(QLatin1String("duplex")) || v.contains(QLatin1String("simplex")))
        return SourceKind::Feeder;
    if (v.startsWith(QLatin1String("auto")))
        return SourceKind::DeviceAuto;
    return SourceKind::Other;
}

ModeKind classifyMode(const std::string &value)
{
    const QString v = QString::fromStdString(value).toLower();
    if (v.contains(QLatin1String("lineart")) || v.contains(QLatin1String("binary")) ||
        v.contains(QLatin1String("halftone")) || v.contains(QLatin1String("black")) || v == QLatin1String("bw"))
        return ModeKind::Lineart;
    if (v.contains(QLatin1String("gray")) || v.contains(QLatin1String("grey")) || v.contains(QLatin1String("mono")))
        return ModeKind::Gray;
    if (v.contains(QLatin1String("color")) || v.contains(QLatin1String("colour")) || v.contains(QLatin1String("rgb")))
        return ModeKind::Color;
    return ModeKind::Other;
}

double wordToDouble(const OptionInfo &o, SANE_Word w)
{
    return o.type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w);
}

SANE_Word doubleToWord(const OptionInfo &o, double v)
{
    if (o.type == SANE_TYPE_FIXED) {
        v = std::clamp(v, -32767.0, 32767.0);
        return SANE_FIX(v);
    }
    if (o.type == SANE_TYPE_BOOL)
        return v != 0 ? SANE_TRUE : SANE_FALSE;
    v = std::clamp(std::round(v), -2147483647.0, 2147483647.0);
    return SANE_Word(v);
}

double nearestAllowed(const OptionInfo &o, double v)
{
    if (o.constraintType == SANE_CONSTRAINT_RANGE) {
        const double lo = wordToDouble(o, o.range.min);
        const double hi = wordToDouble(o, o.range.max);
        const double q = wordToDouble(o, o.range.quant);
        v = std::clamp(v, std::min(lo, hi), std::max(lo, hi));
        if (q > 0)
            v = std::min(hi, lo + std::round((v - lo) / q) * q);
        return v;
    }
    if (o.constraintType == SANE_CONSTRAINT_WORD_LIST && !o.wordList.empty()) {
        double best = wordToDouble(o, o.wordList.front());
        for (SANE_Word w : o.wordList) {
            const double d = wordToDouble(o, w);
            if (std::abs(d - v) < std::abs(best - v))
                best = d;
        }
        return best;
    }
    return v;
}

QString valueText(const OptionInfo &o, const OptionValue &v)
{
    if (o.type == SANE_TYPE_STRING)
        return QString::fromStdString(v.text);
    QStringList parts;
    for (SANE_Word w : v.words) {
        if (o.type == SANE_TYPE_BOOL)
            parts << (w ? QStringLiteral("ja") : QStringLiteral("nein"));
        else if (o.type == SANE_TYPE_FIXED)
            parts << QString::number(SANE_UNFIX(w), 'g', 6);
        else
            parts << QString::number(w);
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace sane_source
