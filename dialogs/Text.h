// Text between the archive's byte strings (names in the system's encoding) and Qt's.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace tarn::dialogs {

inline QString Q(std::string_view s) { return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size())); }
inline std::string S(const QString& s) { return s.toLocal8Bit().toStdString(); }

}  // namespace tarn::dialogs
