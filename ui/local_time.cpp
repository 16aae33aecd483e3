#include "ui/local_time.h"

#include <QLocale>
#include <QTime>

#include "platform/filetime.h"

namespace {

using Convert = BOOL (*)(const FILETIME*, FILETIME*);

// A time outside what FILETIME holds (before 1601) stays as it is.
CDateTime ConvertTime(const CDateTime& time, Convert convert) {
  FILETIME from, to;
  if (!time.ToFileTime(from) || !convert(&from, &to)) return time;
  return CDateTime::FromFileTime(to);
}

// The locale's long time format without its time-zone fields ("t"), the
// blanks before them and the quoted texts left as they are.
QString TimeFormatWithSeconds(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString kept;
  bool quoted = false;
  for (QChar c : format) {
    if (c == u'\'') quoted = !quoted;
    if (!quoted && c == u't') {
      while (kept.endsWith(u' ')) kept.chop(1);
      continue;
    }
    kept += c;
  }
  return kept.trimmed();
}

QString FormatLocal(const CDateTime& time, bool withTime) {
  int year, month, day, hour, minute, second;
  if (!time.GetParts(year, month, day, hour, minute, second)) return QString::fromStdString(time.Format(withTime));
  const QLocale locale;
  QString text = locale.toString(QDate(year, month, day), QLocale::ShortFormat);
  if (withTime) text += u' ' + locale.toString(QTime(hour, minute, second), TimeFormatWithSeconds(locale));
  return text;
}

}  // namespace

CDateTime UtcToLocal(const CDateTime& utc) { return ConvertTime(utc, FileTimeToLocalFileTime); }

CDateTime LocalToUtc(const CDateTime& local) { return ConvertTime(local, LocalFileTimeToFileTime); }

QString FormatDateTimeText(const CDateTime& time) { return FormatLocal(time, true); }

QString FormatDateText(const CDateTime& time) { return FormatLocal(time, false); }

QDate ToQDate(const CDateTime& date) {
  int year, month, day, hour, minute, second;
  if (!date.GetParts(year, month, day, hour, minute, second)) return {};
  return QDate(year, month, day);
}

CDateTime FromQDate(const QDate& date) {
  if (!date.isValid()) return {};
  return CDateTime::FromParts(date.year(), date.month(), date.day());
}
