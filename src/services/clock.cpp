#include "services/clock.h"

#include <QLocale>

#include <limits>

namespace {

QDateTime g_fixed;

// The system's short time format with the seconds put in when it has none
// ("HH:mm" becomes "HH:mm:ss", "h:mm AP" becomes "h:mm:ss AP"): the call log's
// "Finished At" follows the clock second by second, and the long format would
// bring the time zone's name along.
QString timeFormatWithSeconds(const QLocale &locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (format.contains(u's'))
        return format;
    const qsizetype minutes = format.lastIndexOf(QStringLiteral("mm"));
    if (minutes < 0)
        return QStringLiteral("HH:mm:ss");
    // The separator the format already puts between hours and minutes.
    QChar separator = u':';
    if (minutes > 0 && !format.at(minutes - 1).isLetter())
        separator = format.at(minutes - 1);
    format.insert(minutes + 2, separator + QStringLiteral("ss"));
    return format;
}

// The local date and time of the current second. Each tick asks for the date
// and for the time, and every conversion to local time looks at the system's
// time zone again: it is made once a second.
struct LocalSecond
{
    qint64 second = std::numeric_limits<qint64>::min();
    QDate date;
    QTime time;
};

LocalSecond currentLocalSecond()
{
    if (g_fixed.isValid())
        return {0, g_fixed.date(), g_fixed.time()};
    static LocalSecond cached;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now / 1000 - (now % 1000 < 0 ? 1 : 0);
    if (second != cached.second) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::LocalTime);
        cached = {second, local.date(), local.time()};
    }
    return cached;
}

} // namespace

QDateTime CurrentDateTime()
{
    return g_fixed.isValid() ? g_fixed : QDateTime::currentDateTime();
}

QString CurrentDateText()
{
    // Asked every second, and changed once a day: the text is made again only
    // for another date or another system locale.
    static QDate textDate;
    static QLocale textLocale(QLocale::c());
    static QString text;
    const QDate date = currentLocalSecond().date;
    const QLocale locale = QLocale::system();
    if (text.isNull() || date != textDate || locale != textLocale) {
        textDate = date;
        textLocale = locale;
        text = locale.toString(date, QLocale::ShortFormat);
    }
    return text;
}

QString CurrentTimeText()
{
    // Asked every second: the format is worked out again only when the
    // system's locale is another.
    static QLocale formatLocale(QLocale::c());
    static QString format;
    const QLocale locale = QLocale::system();
    if (format.isEmpty() || locale != formatLocale) {
        formatLocale = locale;
        format = timeFormatWithSeconds(locale);
    }
    return locale.toString(currentLocalSecond().time, format);
}

void SetFixedDateTime(const QDateTime &dateTime)
{
    g_fixed = dateTime;
}
