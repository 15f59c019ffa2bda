#include "sources/sane/Devices.h"

#include "platform/Files.h"

#include <set>

namespace sane_source {

namespace {

QByteArray simplified(const std::string &text) { return QByteArray::fromStdString(text).simplified(); }

} // namespace

QByteArray baseProductName(const FoundDevice &device)
{
    const QByteArray vendor = simplified(device.vendor);
    const QByteArray model = simplified(device.model);
    QByteArray name;
    if (vendor.isEmpty() || model.toLower().startsWith(vendor.toLower()))
        name = model;
    else if (model.isEmpty())
        name = vendor;
    else
        name = vendor + ' ' + model;
    if (name.isEmpty())
        name = simplified(device.name);
    // Control characters have no place in a name shown in a list.
    for (char &c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return platform::CutAtCharacterBoundary(name, kStr32Length).trimmed();
}

QByteArray suffixedProductName(const QByteArray &base, int n)
{
    if (n < 2)
        return platform::CutAtCharacterBoundary(base, kStr32Length);
    const QByteArray suffix = " (" + QByteArray::number(n) + ')';
    return platform::CutAtCharacterBoundary(base, kStr32Length - int(suffix.size())).trimmed() + suffix;
}

int findDevice(const std::vector<KnownDevice> &list, const QByteArray &productName)
{
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i].productName == productName)
            return int(i);
    return -1;
}

int mergeFoundDevices(std::vector<KnownDevice> &list, const std::vector<FoundDevice> &found)
{
    std::vector<bool> matched(list.size(), false);
    std::vector<int> target(found.size(), -1);

    // The same SANE name: the same device.
    for (std::size_t f = 0; f < found.size(); ++f) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (!matched[i] && !list[i].saneName.empty() && list[i].saneName == found[f].name) {
                matched[i] = true;
                target[f] = int(i);
                break;
            }
        }
    }
    // Plugged in again under another name: the first remembered device of
    // the same vendor and model that nothing found so far claims.
    for (std::size_t f = 0; f < found.size(); ++f) {
        if (target[f] >= 0)
            continue;
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (!matched[i] && simplified(list[i].vendor) == simplified(found[f].vendor) &&
                simplified(list[i].model) == simplified(found[f].model) &&
                !(list[i].vendor.empty() && list[i].model.empty())) {
                matched[i] = true;
                target[f] = int(i);
                break;
            }
        }
    }

    std::set<QByteArray> taken;
    for (const KnownDevice &d : list)
        taken.insert(d.productName);

    int appended = 0;
    for (std::size_t f = 0; f < found.size(); ++f) {
        const FoundDevice &d = found[f];
        if (target[f] >= 0) {
            KnownDevice &k = list[std::size_t(target[f])];
            k.saneName = d.name;
            k.vendor = d.vendor;
            k.model = d.model;
            k.type = d.type;
            k.present = true;
            continue;
        }
        const QByteArray base = baseProductName(d);
        QByteArray name = base;
        for (int n = 2; taken.count(name) || name.isEmpty(); ++n)
            name = suffixedProductName(base.isEmpty() ? QByteArray("Scanner") : base, n);
        taken.insert(name);
        KnownDevice k;
        k.productName = name;
        k.saneName = d.name;
        k.vendor = d.vendor;
        k.model = d.model;
        k.type = d.type;
        k.present = true;
        list.push_back(std::move(k));
        ++appended;
    }
    return appended;
}

} // namespace sane_source
