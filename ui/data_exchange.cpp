#include "ui/data_exchange.h"

#include <QLineEdit>

#include <algorithm>
#include <limits>
#include <optional>

#include "ui/message_box.h"
#include "ui/resource_dialog.h"

namespace {

// A decimal number with optional blanks around it; nothing for anything
// else, a sign or a number beyond 32 bits included.
std::optional<uint32_t> ParseNumber(const QString& text) {
  const QString digits = text.trimmed();
  if (digits.isEmpty()) return std::nullopt;
  uint64_t value = 0;
  for (QChar c : digits) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c.unicode() - u'0');
    if (value > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

CDataExchange::CDataExchange(CResourceDialog& dialog, bool saveAndValidate)
    : dialog_(dialog), saveAndValidate_(saveAndValidate) {}

void CDataExchange::Text(int id, std::string& value, int maxChars) {
  auto* edit = dialog_.Control<QLineEdit>(id);
  if (failed_ || !edit) return;
  if (!saveAndValidate_) {
    const QString text = QString::fromStdString(value);
    // The limit stops typing; a longer text already held stays whole, so
    // that OK refuses it instead of cutting it unseen.
    edit->setMaxLength(static_cast<int>(std::max<qsizetype>(maxChars, text.size())));
    edit->setText(text);
    return;
  }
  const QString text = edit->text();
  if (text.size() > maxChars) {
    Fail(id, QString::fromLatin1(kLengthMessage).arg(maxChars));
    return;
  }
  value = text.toStdString();
}

void CDataExchange::Number(int id, uint32_t& value, uint32_t min, uint32_t max) {
  auto* edit = dialog_.Control<QLineEdit>(id);
  if (failed_ || !edit) return;
  if (!saveAndValidate_) {
    edit->setText(QString::number(value));
    return;
  }
  const std::optional<uint32_t> number = ParseNumber(edit->text());
  if (!number || *number < min || *number > max) {
    Fail(id, QString::fromLatin1(kRangeMessage).arg(min).arg(max));
    return;
  }
  value = *number;
}

void CDataExchange::Fail(int id, const QString& message) {
  failed_ = true;
  CMessageBox::Show(&dialog_, message, CMessageBox::Buttons::Ok, CMessageBox::Icon::Exclamation);
  if (auto* edit = dialog_.Control<QLineEdit>(id)) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
  }
}
