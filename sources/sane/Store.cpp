#include "sources/sane/Store.h"

#include "sources/sane/Log.h"

#include "platform/FileAccess.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>


namespace sane_source {

namespace {

constexpr int kMaxDevices = 1000;

QJsonObject valueToJson(const OptionValue &v)
{
    QJsonObject o;
    if (!v.words.empty()) {
        QJsonArray words;
        for (SANE_Word w : v.words)
            words.append(qint64(w));
        o[QStringLiteral("w")] = words;
    } else {
        o[QStringLiteral("t")] = QString::fromStdString(v.text);
    }
    return o;
}

bool valueFromJson(const QJsonValue &j, OptionValue &v)
{
    if (!j.isObject())
        return false;
    const QJsonObject o = j.toObject();
    if (o.contains(QStringLiteral("w"))) {
        const QJsonValue words = o.value(QStringLiteral("w"));
        if (!words.isArray() || words.toArray().size() > 4096)
            return false;
        for (const QJsonValue &w : words.toArray()) {
            if (!w.isDouble())
                return false;
            const double d = w.toDouble();
            if (d < -2147483648.0 || d > 2147483647.0)
                return false;
            v.words.push_back(SANE_Word(qint64(d)));
        }
        return !v.words.empty();
    }
    const QJsonValue t = o.value(QStringLiteral("t"));
    if (!t.isString())
        return false;
    v.text = t.toString().toStdString();
    return true;
}

} // namespace

QString storeFile()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/Quillora/Scanner.json");
}

QByteArray storeToJson(const StoredState &state)
{
    QJsonArray devices;
    for (const KnownDevice &d : state.devices) {
        QJsonObject o;
        o[QStringLiteral("productName")] = QString::fromUtf8(d.productName);
        o[QStringLiteral("device")] = QString::fromStdString(d.saneName);
        o[QStringLiteral("vendor")] = QString::fromStdString(d.vendor);
        o[QStringLiteral("model")] = QString::fromStdString(d.model);
        o[QStringLiteral("type")] = QString::fromStdString(d.type);
        devices.append(o);
    }
    QJsonObject settings;
    for (const auto &[name, s] : state.settings) {
        QJsonObject values;
        for (const auto &[option, value] : s.values)
            values[QString::fromStdString(option)] = valueToJson(value);
        QJsonObject o;
        o[QStringLiteral("options")] = values;
        if (!s.paper.isEmpty())
            o[QStringLiteral("paper")] = s.paper;
        settings[QString::fromUtf8(name)] = o;
    }
    QJsonObject root;
    root[QStringLiteral("devices")] = devices;
    root[QStringLiteral("settings")] = settings;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool storeFromJson(const QByteArray &json, StoredState &state)
{
    state = StoredState{};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject root = doc.object();
    const QJsonValue devices = root.value(QStringLiteral("devices"));
    if (!devices.isUndefined() && !devices.isArray())
        return false;
    for (const QJsonValue &v : devices.toArray()) {
        if (!v.isObject())
            return false;
        const QJsonObject o = v.toObject();
        KnownDevice d;
        d.productName = o.value(QStringLiteral("productName")).toString().toUtf8();
        // A name that does not fit a TW_STR32 or repeats another cannot be a
        // source's name: the entry is left out.
        if (d.productName.isEmpty() || d.productName.size() > kStr32Length || findDevice(state.devices, d.productName) >= 0)
            continue;
        d.saneName = o.value(QStringLiteral("device")).toString().toStdString();
        d.vendor = o.value(QStringLiteral("vendor")).toString().toStdString();
        d.model = o.value(QStringLiteral("model")).toString().toStdString();
        d.type = o.value(QStringLiteral("type")).toString().toStdString();
        if (int(state.devices.size()) < kMaxDevices)
            state.devices.push_back(std::move(d));
    }
    const QJsonValue settings = root.value(QStringLiteral("settings"));
    if (!settings.isUndefined() && !settings.isObject())
        return false;
    const QJsonObject s = settings.toObject();
    for (auto it = s.begin(); it != s.end(); ++it) {
        if (!it.value().isObject())
            continue;
        const QJsonObject o = it.value().toObject();
        DeviceSettings ds;
        const QJsonObject values = o.value(QStringLiteral("options")).toObject();
        for (auto v = values.begin(); v != values.end(); ++v) {
            OptionValue value;
            if (valueFromJson(v.value(), value))
                ds.values[v.key().toStdString()] = std::move(value);
        }
        ds.paper = o.value(QStringLiteral("paper")).toString();
        state.settings[it.key().toUtf8()] = std::move(ds);
    }
    return true;
}

bool loadStore(StoredState &state)
{
    state = StoredState{};
    const QString path = storeFile();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcSane) << "cannot read" << path;
        return false;
    }
    const QByteArray bytes = file.read(16 << 20);
    file.close();
    if (storeFromJson(bytes, state))
        return true;
    qCWarning(lcSane) << "damaged, moved aside:" << path;
    const QString aside = path + QStringLiteral(".beschädigt");
    QFile::remove(aside);
    QFile::rename(path, aside);
    state = StoredState{};
    return false;
}

bool saveStore(const StoredState &state)
{
    const QString path = storeFile();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    try {
        platform::WriteFileAtomically(path, storeToJson(state));
        return true;
    } catch (const platform::FileAccessError &e) {
        qCWarning(lcSane) << e.what();
        return false;
    }
}

} // namespace sane_source
