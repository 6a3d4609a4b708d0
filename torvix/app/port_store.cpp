#include "torvix/app/port_store.h"

#include <QSettings>

#include "common/device_map.h"
#include "common/qt/device_combo.h"

#include "torvix/app/window_texts.h"

namespace torvix::app {

std::optional<std::uint32_t> ParseStoredPort(const QString& text) {
  constexpr int kMaxDigits = 10;  // 4294967295
  if (text.isEmpty() || text.size() > kMaxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (const QChar c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c.unicode() - u'0');
  }
  if (value > UINT32_MAX) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::optional<std::uint32_t> ReadStoredPort() {
  const QSettings settings(QSettings::UserScope, kSettingsOrganization, kSettingsApplication);
  const QVariant value = settings.value(kPortKey);
  // A list or another type that is no plain text reads as no number.
  if (!value.isValid() || !value.canConvert<QString>()) return std::nullopt;
  return ParseStoredPort(value.toString());
}

bool WriteStoredPort(std::uint32_t port) {
  QSettings settings(QSettings::UserScope, kSettingsOrganization, kSettingsApplication);
  if (!settings.isWritable()) return false;
  settings.setValue(kPortKey, port);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

bool WriteStoredDevice(int n, const QString& device) {
  return common::qt::StoreDevice(common::kTorvixSettings, n, device);
}

}  // namespace torvix::app
