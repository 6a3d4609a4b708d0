#include "torvix/database/tests/sample_texts.h"

#include <sstream>

#include "torvix/database/factory_text_reader.h"
#include "torvix/database/factory_text_writer.h"

namespace torvix::testing {

std::string Dos(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

CompileResult Compile(std::string_view dosText, DatabaseImage& image) {
  MemoryByteSource raw(dosText);
  DosTextSource text(raw);
  FactoryTextReader reader;
  const int code = reader.Read(text, image);
  return {code, reader.Message()};
}

std::string Print(const DatabaseImage& image) {
  std::ostringstream out;
  WriteFactoryText(out, image);
  return out.str();
}

std::string FullBasicText() {
  return Dos(R"(# factory data for the round trip
      # an indented comment

t 11000 27500 hor 0 14 0 1/2
B Begin
a 3
s "ASTRA 19" 9750 10600 universal 19.2 east a n n n
t 12663 22000 hor 0 14 0 3/4
t 11778 27500 V 22 18 12 auto
  S "HOTBIRD"  9750 10600 U 13.0 E b none 0 14
t 10971 27500 h 0 18 0 2/3
T 12111 27500 vertical 22 14 0 5/6
t 11034 27500 Horizontal 0 14 12 7/8
t 11200 27500 VER 0 14 0 A
s "" 5150 0 1 0.7 e 1 22 12 18
t 3700 6000 hor 0 14 0 0
s "TURKSAT" 9750 10600 normal 42.3 w c NONE 12 N
t 11958 27500 ver 22 18 0 1/2
s "AMC" 5150 5150 n 180.0 west d 0 0 14
t 4000 30000 hor 0 14 0 auto
s "EXPRESS" 9750 10600 0 0.0 1 2 n n n
t 11000 27500 hor 0 14 0 auto
s "THOR" 9750 10600 Normal 0.8 W 3 n n n
s "SIRIUS" 9750 10600 u 5.0 East 4 n n n

v "ZDF On-line" 1 2 2048 4096 4097 4096 4000 0 1 0
R "Radio 1" 2 3 1 0 300 8191 8191 1 0 1
V "" 3 1 65535 8191 70000 0 40959 0 0 0
r "thirteen char" 4 1 0 0 0 0 32768 1 1 1
v "MTV" 2 4 12 101 102 101 0 0 0 0
v "last line" 6 1 5 6 7 8 9 0 0 0)");
}

std::string FullKvrsText() {
  return Dos(R"(# KVRS factory data
kvrs

a 1 universal 9750 10600 f n n n n
a 2 u 9750 10600 d a 0 0 14
a 3 normal 5150 0 a b 22 12 18
A 4 N 5150 5150 none c none none none
a 5 1 9750 10600 D d n N n
a 6 0 9750 10600 f 1 n n n
a 7 0 9750 10600 f 2 n n n
a 8 0 9750 10600 f 3 n n n
a 9 0 9750 10600 f 4 n n n
a 3
a 10 u 9750 10600 x n n n n
t 11000 27500 hor 0 14 0 1/2
s "ASTRA 19" 9750 10600 universal 19.2 east y 0
t 12663 22000 hor 0 14 0 3/4 7 0101 2300
t 11778 27500 v 22 18 12 auto 255 3 3 3 3 3 3 3 3
v "ZDF On-line" 1 1 2 2048 4096 4097 4096 4000 0 165 0
s "HOTBIRD" 9750 10600 U 13.0 E N -90
t 10971 27500 h 0 18 0 2/3
t 12111 27500 Vertical 22 14 0 5/6 12
t 11034 27500 horizontal 0 14 12 7/8
R "Radio 1" 0 2 3 1 0 300 8191 8191 1 255 1
s "" 5150 0 normal 0.7 w n 165
t 3700 6000 VER 0 14 0 A
s "TURKSAT" 9750 10600 0 42.3 1 Y
t 11958 27500 hor 22 18 0 0
v "thirteen char" 9 3 1 65535 8191 70000 0 40959 0 0 0
V "" 3 2 1 0 0 0 0 32768 1 1 1
r "MTV" 2 4 1 12 101 102 101 0 0 0 1
)");
}

std::string MaximalKvrsText() {
  std::ostringstream text;
  text << "KVRS\n";
  for (int a = 1; a <= 64; ++a) text << "a " << a << " universal 9750 10600 d a 22 12 18\n";
  constexpr int kSatellites = 128;
  constexpr int kTranspondersPerSatellite = 16;
  for (int s = 0; s < kSatellites; ++s) {
    text << "s \"SAT" << s << "\" 9750 10600 universal " << (s * 14) / 10 << '.' << (s * 14) % 10 << " east y "
         << s - 90 << '\n';
    for (int t = 0; t < kTranspondersPerSatellite; ++t) {
      text << "t " << 10700 + t * 100 << " 27500 hor 22 18 12 3/4 " << t << " 0123 3210\n";
    }
  }
  for (int v = 0; v < 3200; ++v) {
    text << (v % 2 ? "r" : "v") << " \"SERVICE" << v << "\" " << v % 64 + 1 << ' ' << v % kSatellites + 1 << ' '
         << v % kTranspondersPerSatellite + 1 << ' ' << v << " 100 101 102 103 1 " << v % 256 << " 0\n";
  }
  return Dos(text.str());
}

}  // namespace torvix::testing
