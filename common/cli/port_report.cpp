#include "common/cli/port_report.h"

#include <nlohmann/json.hpp>

namespace common::cli {
namespace {

using nlohmann::json;

// Whether a program that offers COM1 .. COM<comNames> offers `name` (0: every name).
bool Offered(const std::string& name, int comNames) {
  return comNames <= 0 || std::stoi(name.substr(3)) <= comNames;
}

std::vector<std::string> OfferedNames(const std::vector<std::string>& names, int comNames) {
  std::vector<std::string> offered;
  for (const std::string& name : names) {
    if (Offered(name, comNames)) offered.push_back(name);
  }
  return offered;
}

}  // namespace

std::string PortListingText(const PortListing& listing, int comNames) {
  std::string text;
  if (listing.devices.empty()) text += "No serial device found.\n";
  for (const SerialDevice& d : listing.devices) {
    text += d.name + "\n   ";
    std::string details;
    const auto add = [&details](const std::string& part) { details += (details.empty() ? " " : ", ") + part; };
    if (d.name != d.device) add(d.device);
    for (std::size_t i = 1; i < d.byId.size(); ++i) add("also " + d.byId[i]);
    if (!d.driver.empty()) add("driver " + d.driver);
    if (!d.usbVendor.empty()) add("USB " + d.usbVendor + ":" + d.usbProduct);
    if (!d.serialNumber.empty()) add("serial " + d.serialNumber);
    const std::string maker = d.manufacturer + (d.manufacturer.empty() || d.product.empty() ? "" : " ") + d.product;
    if (!maker.empty()) add(maker);
    if (details.empty()) details = " nothing known from sysfs";
    const std::vector<std::string> com = OfferedNames(d.comNames, comNames);
    std::string names;
    for (const std::string& name : com) names += (names.empty() ? "; " : ", ") + name;
    text += details + names + "\n";
  }
  text += "\n";
  for (const ComMapping& m : listing.comPorts) {
    if (!Offered(m.name, comNames)) continue;
    text += m.name + std::string(m.name.size() < 6 ? 6 - m.name.size() : 1, ' ') + m.path;
    if (m.source == ComSource::kEnvironment) text += " ($" + m.name + ")";
    if (m.source == ComSource::kStored) text += " (stored)";
    if (!m.present) text += " (not present)";
    text += "\n";
  }
  return text;
}

namespace {
const char* SourceName(ComSource source) {
  switch (source) {
    case ComSource::kEnvironment: return "environment";
    case ComSource::kStored: return "stored";
    case ComSource::kDefault: break;
  }
  return "default";
}
}  // namespace

std::string PortListingJson(const PortListing& listing, int comNames) {
  json devices = json::array();
  for (const SerialDevice& d : listing.devices) {
    json usb = nullptr;
    if (!d.usbVendor.empty()) {
      usb = {{"vendor", d.usbVendor},
             {"product", d.usbProduct},
             {"serial", d.serialNumber},
             {"manufacturer", d.manufacturer},
             {"product_name", d.product}};
    }
    devices.push_back({{"name", d.name},
                       {"device", d.device},
                       {"by_id", d.byId},
                       {"driver", d.driver},
                       {"usb", usb},
                       {"com", OfferedNames(d.comNames, comNames)}});
  }
  json com = json::array();
  for (const ComMapping& m : listing.comPorts) {
    if (!Offered(m.name, comNames)) continue;
    com.push_back({{"name", m.name},
                   {"path", m.path},
                   {"source", SourceName(m.source)},
                   {"present", m.present}});
  }
  return json{{"devices", devices}, {"com_ports", com}}.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace common::cli
