#include "appsetup.h"

#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QTranslator>

#include "requests.h"

namespace ov {

void install_translations(QApplication& app, const QString& language)
{
    // id-based table: a missing id shows the id, which is the key itself.
    auto* translator = new QTranslator(&app);
    const QLocale locale = language.isEmpty() ? QLocale() : QLocale(language);
    if (translator->load(locale, QStringLiteral("ovraid"), QStringLiteral("_"), QStringLiteral(":/i18n")) ||
        translator->load(QStringLiteral(":/i18n/ovraid_en.qm")))
        app.installTranslator(translator);
    set_localizer([](const std::string& key) { return qtTrId(key.c_str()).toStdString(); });
}

void load_style(QApplication& app)
{
    QFile style(QStringLiteral(":/style/ovraid.qss"));
    if (style.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(style.readAll()));
}

double resident_megabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

}  // namespace ov
