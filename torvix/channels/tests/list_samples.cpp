#include "torvix/channels/tests/list_samples.h"

namespace torvix::channels::testing {

ChannelList HandMadeList(Layout layout) {
  ChannelList list(layout);
  const bool kvrs = layout == Layout::kKvrs;
  if (!kvrs) list.setAntennaConfig(5);
  const auto satellite = [&](const char* name, int angle, bool west) {
    SatelliteRecord r{.lnb_low = 9750, .lnb_high = 10600, .universal_lnb = true,
                      .angle = static_cast<std::uint16_t>(angle), .east_west = west};
    r.diseqc = {false, 3};  // not used: the port is no text's
    r.tone_22khz = {true, true};
    r.volt_0_12 = {false, true};
    r.volt_14_18 = {true, false};
    r.diseqc_1_2 = true;
    r.biased_value = kvrs ? -90 : 17;
    r.name = name;
    const ItemId id = list.NewId();
    list.mutableSatellites().push_back({id, r});
    return id;
  };
  const ItemId astra = satellite("ASTRA", 192, false);
  const ItemId hotbird = satellite("HOT BIRD", 130, false);
  const ItemId empty = satellite("", 1800, true);
  (void)empty;
  const auto transponder = [&](ItemId sat, int frequency, bool horizontal, int fec) {
    TransponderRecord r{.frequency = static_cast<std::uint16_t>(frequency), .symbolrate = 27500,
                        .polarization = horizontal, .tone_22khz = true, .volt_14_18 = frequency % 2 == 0,
                        .volt_0_12 = true, .fec = static_cast<std::uint8_t>(fec), .satellite_index = 77,
                        .aux_byte = 9};
    r.aux_codes[3] = 2;
    const ItemId id = list.NewId();
    list.mutableTransponders().push_back({id, sat, r});
    return id;
  };
  const ItemId t1 = transponder(astra, 11778, true, 3);
  const ItemId t2 = transponder(astra, 12604, false, 0);
  const ItemId t3 = transponder(hotbird, 10971, true, 5);
  const ItemId t4 = transponder(hotbird, 11034, false, 2);
  const ItemId t5 = transponder(hotbird, 11996, true, 1);
  (void)t2;
  ItemId a1 = kNoItem;
  ItemId a2 = kNoItem;
  if (kvrs) {
    for (ItemId* a : {&a1, &a2}) {
      AntennaRecord r{.lnb_low = 9750, .lnb_high = 10600, .universal_lnb = a == &a1};
      r.diseqc = {true, 2};
      r.tone_22khz = {false, true};
      r.volt_14_18 = {true, true};
      r.antenna_type = a == &a1 ? 1 : 2;
      *a = list.NewId();
      list.mutableAntennas().push_back({*a, r});
    }
  }
  const auto service = [&](const char* name, ItemId tp, ItemId antenna, int sid, bool radio, int favorite) {
    ServiceRecord r{.service_id = static_cast<std::uint16_t>(sid), .video_pid = static_cast<std::uint16_t>(radio ? 0 : 511),
                    .audio_pid = 40000, .pcr_pid = 8191, .transponder_index = 999, .tv_radio = radio,
                    .txt_pid = 0x8000 | 576, .scramble = sid % 2 == 1,
                    .favorite = static_cast<std::uint8_t>(kvrs ? favorite : favorite & 1), .lock = radio,
                    .name = name, .sat_index = 200, .ant_index = 255};
    list.mutableServices().push_back({list.NewId(), tp, antenna, r});
  };
  service("Das Erste", t1, a1, 28106, false, 165);
  service("Radio Bremen", t3, a2, 28385, true, 1);
  service("thirteen char", t5, kNoItem, 65535, false, 255);
  service("", t4, kNoItem, 0, true, 0);
  return list;
}

}  // namespace torvix::channels::testing
