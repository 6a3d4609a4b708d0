// A pseudo-terminal pair seen from the master side: how the receiver emulator
// and the tests play the receiver's end of a serial line.
//
// The slave path behaves like a serial device for SerialLine.  The object
// keeps a descriptor of its own on the slave open, so that the master never
// sees a hang-up while the tool closes and reopens the line (as it does to
// change the bit rate); CloseMaster() makes the line vanish for the tool.
//
// One thread uses the master at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace common {

class PseudoTerminal {
 public:
  // Opens a new pair; Ok() tells whether that worked (Error() says why not).
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  bool Ok() const { return master_ >= 0; }
  const std::string& Error() const { return error_; }
  const std::string& SlavePath() const { return slavePath_; }
  int MasterFd() const { return master_; }

  // Reads exactly `n` bytes, waiting at most `timeoutMs` in all (negative: no
  // limit).  Returns what arrived: fewer than `n` bytes on time-out or hang-up.
  std::vector<std::uint8_t> Read(std::size_t n, int timeoutMs);
  // Reads whatever is waiting, up to `max` bytes, without waiting.
  std::vector<std::uint8_t> ReadAvailable(std::size_t max = 1 << 20);
  // Waits up to `timeoutMs` for input; true when some is waiting.
  bool WaitReadable(int timeoutMs);
  // Writes all bytes (retrying short writes); false on error.
  bool Write(const void* data, std::size_t n);
  bool Write(const std::vector<std::uint8_t>& bytes) { return Write(bytes.data(), bytes.size()); }
  // The bit rate the tool has set on the slave side; 0 when unknown.
  std::uint32_t SlaveBaud() const;
  // Closes the master (and the slave descriptor kept here): the line is gone.
  void CloseMaster();

 private:
  int master_ = -1;
  int slaveKeeper_ = -1;
  std::string slavePath_;
  std::string error_;
};

}  // namespace common
