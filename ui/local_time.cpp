#include "ui/local_time.h"

#include <ctime>

#include "platform/filetime.h"

namespace {

using Convert = BOOL (*)(const FILETIME*, FILETIME*);

// A time outside what FILETIME holds (before 1601) stays as it is.
CDateTime ConvertTime(const CDateTime& time, Convert convert) {
  FILETIME from, to;
  if (!time.ToFileTime(from) || !convert(&from, &to)) return time;
  return CDateTime::FromFileTime(to);
}

QString Strftime(const CDateTime& time, const char* format) {
  struct tm fields = {};
  if (!time.GetParts(fields.tm_year, fields.tm_mon, fields.tm_mday, fields.tm_hour, fields.tm_min,
                     fields.tm_sec)) {
    return QString::fromStdString(time.Format());
  }
  fields.tm_year -= 1900;
  fields.tm_mon -= 1;
  fields.tm_isdst = -1;
  char text[128];
  size_t length = strftime(text, sizeof text, format, &fields);
  return QString::fromLocal8Bit(text, static_cast<qsizetype>(length));
}

}  // namespace

CDateTime UtcToLocal(const CDateTime& utc) { return ConvertTime(utc, FileTimeToLocalFileTime); }

CDateTime LocalToUtc(const CDateTime& local) { return ConvertTime(local, LocalFileTimeToFileTime); }

QString FormatDateTimeText(const CDateTime& time) { return Strftime(time, "%x %X"); }

QString FormatDateText(const CDateTime& time) { return Strftime(time, "%x"); }

QDate ToQDate(const CDateTime& date) {
  int year, month, day, hour, minute, second;
  if (!date.GetParts(year, month, day, hour, minute, second)) return {};
  return QDate(year, month, day);
}

CDateTime FromQDate(const QDate& date) {
  if (!date.isValid()) return {};
  return CDateTime::FromParts(date.year(), date.month(), date.day());
}
