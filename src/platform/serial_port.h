// A serial port as the communication driver uses it: raw 19200 8N1 with DTR
// and RTS raised, a waiting-byte count, reads of what waits, a write that
// never blocks the caller (its completion is awaited separately), input
// discard and the DSR line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

class ISerialPort {
 public:
  virtual ~ISerialPort() = default;

  // False with LastError when the device is missing, in use or cannot be
  // configured; the port then stays closed.
  virtual bool Open(const std::string& DevicePath) = 0;
  // Awaits a pending write first (bounded), then closes. Safe when closed.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Bytes waiting at the port; nullopt when the port cannot be asked.
  virtual std::optional<size_t> InputCount() = 0;
  // Reads up to Buffer.size() bytes without blocking; nullopt on failure.
  virtual std::optional<size_t> Read(std::span<uint8_t> Buffer) = 0;
  // Starts writing the bytes and returns at once; what the device does not
  // take now is sent by later calls. A write still pending is awaited first.
  // False when the device refused the write.
  virtual bool StartWrite(std::span<const uint8_t> Bytes) = 0;
  // Moves a pending write on without blocking; true while bytes remain.
  virtual bool WritePending() = 0;
  // Blocks until the pending write has left the output queue, within a
  // bound derived from its length; the write is released either way.
  // False when it failed or ran out of time.
  virtual bool WaitWriteDone() = 0;
  // Drops whatever waits at the input.
  virtual bool PurgeInput() = 0;
  // nullopt when the modem lines cannot be read (a pseudo-terminal has none).
  virtual std::optional<bool> DSR() = 0;

  // The descriptor for an event loop, -1 when closed.
  virtual int Fd() const = 0;
  virtual const std::string& LastError() const = 0;
};

inline constexpr uint32_t kSerialBaudRate = 19200;

// The POSIX implementation over a tty device. The device is opened
// exclusively (TIOCEXCL and an flock), so a second user, another program or
// a second port object, fails to open it as a COM port in use would.
class TPosixSerialPort final : public ISerialPort {
 public:
  TPosixSerialPort() = default;
  ~TPosixSerialPort() override;
  TPosixSerialPort(const TPosixSerialPort&) = delete;
  TPosixSerialPort& operator=(const TPosixSerialPort&) = delete;

  bool Open(const std::string& DevicePath) override;
  void Close() override;
  bool IsOpen() const override { return FFd >= 0; }
  std::optional<size_t> InputCount() override;
  std::optional<size_t> Read(std::span<uint8_t> Buffer) override;
  bool StartWrite(std::span<const uint8_t> Bytes) override;
  bool WritePending() override;
  bool WaitWriteDone() override;
  bool PurgeInput() override;
  std::optional<bool> DSR() override;
  int Fd() const override { return FFd; }
  const std::string& LastError() const override { return FLastError; }

  // The longest WaitWriteDone may take for a write of Count bytes: twice the
  // line time at 19200 baud plus a margin for the device.
  static int WriteBoundMs(size_t Count);

 private:
  // Writes as much of the pending bytes as the device takes now; false on a
  // device error (the pending bytes are dropped).
  bool Push();
  void Fail(const std::string& What, int Error);

  int FFd = -1;
  std::string FPath;
  std::vector<uint8_t> FPending;  // bytes not yet taken by the device
  size_t FPendingOffset = 0;
  size_t FWriteLength = 0;  // length of the write in flight, for its bound
  bool FWriteInFlight = false;
  std::string FLastError;
};
