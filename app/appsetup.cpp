#include "appsetup.h"

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QLocale>
#include <QTranslator>

#include "numbers.h"
#include "requests.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace ov {

void install_translations(QApplication& app, const QString& language)
{
    // id-based table: a missing id shows the id, which is the key itself.
    auto* translator = new QTranslator(&app);
    const QLocale locale = language.isEmpty() ? QLocale() : QLocale(language);
    const bool own = translator->load(locale, QStringLiteral("ovraid"), QStringLiteral("_"), QStringLiteral(":/i18n"));
    if (own || translator->load(QStringLiteral(":/i18n/ovraid_en.qm")))
        app.installTranslator(translator);
    set_localizer([](const std::string& key) { return qtTrId(key.c_str()).toStdString(); });
    // Numbers are written as the words around them are: a language without a table of
    // its own reads English, with English numbers.
    const QLocale numbers = own ? locale : QLocale(QLocale::English, QLocale::UnitedStates);
    number_format format;
    format.decimal_point = numbers.decimalPoint().toStdString();
    format.group_separator = numbers.groupSeparator().toStdString();
    // Without a table the id shows as itself: the default sign stays.
    const QString suffix = qtTrId("number_percent_suffix");
    if (suffix != QLatin1String("number_percent_suffix"))
        format.percent_suffix = suffix.toStdString();
    set_number_format(format);
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

namespace {

int signal_pipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the pipe; the window's thread does the rest.
void on_termination_signal(int)
{
    const char byte = 1;
    const int saved = errno;
    [[maybe_unused]] const ssize_t n = ::write(signal_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool route_termination_signals(std::function<void(int status)> leave)
{
    if (signal_pipe[0] < 0 && ::pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    auto* notifier = new QSocketNotifier(signal_pipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [leave = std::move(leave)] {
        char bytes[16];
        while (::read(signal_pipe[0], bytes, sizeof bytes) > 0) {
        }
        leave(0);
    });
    struct sigaction action {};
    action.sa_handler = on_termination_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        if (::sigaction(sig, &action, nullptr) != 0)
            return false;
    return true;
}

}  // namespace ov
