#include "emulator/link/sample_database.h"

#include <memory>

#include "torvix/database/database_image.h"
#include "torvix/database/records.h"

namespace emulator {

std::vector<std::uint8_t> SampleDatabaseImage() {
  using namespace torvix;
  const ImageLayout& layout = kBasicLayout;
  auto image = std::make_unique<DatabaseImage>();

  SatelliteRecord astra;
  astra.lnb_low = 9750;
  astra.lnb_high = 10600;
  astra.universal_lnb = true;
  astra.angle = 192;  // 19.2 east
  astra.name = "ASTRA";
  StoreSatellite(*image, layout, 0, astra);

  TransponderRecord horizontal;
  horizontal.frequency = 12603;
  horizontal.symbolrate = 22000;
  horizontal.polarization = true;
  horizontal.fec = 3;  // 3/4
  horizontal.satellite_index = 0;
  StoreTransponder(*image, layout, 0, horizontal);
  TransponderRecord vertical = horizontal;
  vertical.frequency = 11836;
  vertical.symbolrate = 27500;
  vertical.polarization = false;
  StoreTransponder(*image, layout, 1, vertical);

  ServiceRecord tv;
  tv.service_id = 28106;
  tv.video_pid = 101;
  tv.audio_pid = 102;
  tv.pcr_pid = 101;
  tv.txt_pid = 104;
  tv.transponder_index = 1;
  tv.name = "Das Erste";
  StoreService(*image, layout, 0, tv);
  ServiceRecord radio;
  radio.service_id = 12345;
  radio.audio_pid = 201;
  radio.pcr_pid = 201;
  radio.transponder_index = 0;
  radio.tv_radio = true;
  radio.name = "Radio One";
  StoreService(*image, layout, 1, radio);

  ImageHeader header;
  header.format = kFormatBasic;
  header.satellite_count = 1;
  header.transponder_count = 2;
  header.service_count = 2;
  StoreHeader(*image, header);
  return std::vector<std::uint8_t>(image->Data(), image->Data() + DatabaseImage::kSize);
}

}  // namespace emulator
