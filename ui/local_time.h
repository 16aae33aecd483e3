// The acknowledgement log's times as the operator sees them: the log keeps
// UTC, the dialogs show and choose local days and times.
//
// Local time is the C library's (TZ honoured), each instant converted with
// the offset in force at that instant. Texts follow the user's locale as Qt
// has it (QLocale(), the system's unless set otherwise), as the date pickers
// show dates: a date in its short format, a time with its seconds (the long
// format without the time zone, since the times shown are local).
//
// Contract: values that are not valid (null, invalid) come back as they
// went in; their texts are CDateTime::Format's ("" for null). Any thread.
#pragma once

#include <QDate>
#include <QString>

#include "acklog/date_time.h"

CDateTime UtcToLocal(const CDateTime& utc);
// A local wall-clock time that a DST change skips or repeats is resolved
// as mktime resolves it.
CDateTime LocalToUtc(const CDateTime& local);

QString FormatDateTimeText(const CDateTime& time);
QString FormatDateText(const CDateTime& time);

// Dates between the log's CDateTime and the date pickers' QDate (both
// without a time of day); a value that is not valid gives an invalid QDate
// and the other way round.
QDate ToQDate(const CDateTime& date);
CDateTime FromQDate(const QDate& date);
