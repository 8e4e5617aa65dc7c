#pragma once
// TCP client transport with a read time-out (Socket) and the byte queue every PDU goes through
// (Buffer, made of BufferSpace blocks). The program only ever calls out: there is no listening code.
#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

// A blocking IPv4 TCP client connection. Reads wait at most the read time-out; connecting is
// bounded by the same time-out.
class Socket {
 public:
  Socket();
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // One send of the whole chunk; false when not connected or the send fails.
  virtual bool SendBinary(const void* data, uint32_t count);
  // Waits up to the read time-out and receives at most capacity bytes: the byte count, 0 (time-out 0
  // and nothing waiting) or -1 (not connected, peer closed, timed out).
  virtual int ReadBinary(void* dest, uint32_t capacity);
  virtual ~Socket();
  // Resolves host and port, creates and configures the socket and connects.
  virtual bool Open(const std::string& host, const std::string& port);

  // Closes the handles (no shutdown); always true.
  bool Close();
  // Ends a connection whose last PDU has been sent: shuts our sending side, waits up to
  // kPeerCloseWait for the peer to close its own, then closes; resets the connection only when the
  // peer did not close in that time.
  void CloseInOrder();
  // Why the connection could not be made or broke, in words, when the transport knows more than
  // the errno value (TLS); "" otherwise.
  const std::string& Failure() const { return failure_; }
  // The last read failed because the peer closed or reset the connection (not a time-out).
  bool PeerClosed() const { return peerClosed_; }
  static constexpr std::chrono::milliseconds kPeerCloseWait{1000};
  void SetTimeout(uint32_t seconds) { timeout_ = seconds; }
  // Bounds all reads from now on to the read time-out in total, not per wait, so that a peer
  // trickling bytes cannot hold a PDU open for longer; ClearDeadline returns to per-wait time-outs.
  // Without a read time-out (0) nothing changes.
  void ArmDeadline();
  void ClearDeadline() { deadlineArmed_ = false; }
  uint32_t GetTimeout() const { return timeout_; }
  bool IsConnected() const { return connected_; }
  // The result of the last connect (0 = success, else the errno value).
  int GetResult() const { return result_; }
  // Number of live Socket objects in the process.
  static int LiveCount();

 protected:
  // The transport under the waits, as send(2) and recv(2) on the connected socket; TLS replaces
  // them. receiveSome returns -2 when it ran out of time waiting for the rest of what it needs.
  virtual long sendSome(const void* data, size_t count);
  virtual long receiveSome(void* dest, size_t capacity);
  // Bytes already received and decoded but not yet handed out (no wait needed for them).
  virtual bool hasBuffered() const { return false; }
  // Said to the peer before our sending side is shut (TLS: its close_notify).
  virtual void sayGoodbye() {}
  // Waits for the socket to become ready as reads wait (the armed deadline, else the read
  // time-out): 1 ready, 0 time-out, -1 error.
  int waitReady(short events);

  std::string failure_;
  bool peerClosed_ = false;
  int result_ = 0;
  int handle_ = -1;        // the connected socket; -1 when there is none
  int listenHandle_ = -1;  // never opened by this program, closed whenever set
  bool connected_ = false;
  uint32_t timeout_ = 300;
  sockaddr_in peer_{};
  bool counted_ = false;
  bool deadlineArmed_ = false;
  std::chrono::steady_clock::time_point deadline_{};
};

// One block of bytes. For an outgoing block `index` is the filled size and `start` the bytes of
// the front already handed on; for an incoming block `index` counts the bytes consumed.
struct BufferSpace {
  explicit BufferSpace(uint32_t cap);
  uint32_t capacity;
  uint32_t index = 0;
  uint32_t start = 0;
  std::unique_ptr<unsigned char[]> data;
};

// Byte queue over a Socket with typed access in a selectable byte order (1 = little endian,
// 2 = big endian). Outgoing bytes are collected until Flush; incoming bytes are pulled on demand.
class Buffer {
 public:
  static constexpr uint32_t kBlockCapacity = 32600;

  // The buffer owns its link; a test may hand in its own Socket.
  explicit Buffer(std::unique_ptr<Socket> link = nullptr);
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  virtual ~Buffer();

  bool SetIncomingOrder(int order);
  bool SetOutgoingOrder(int order);
  int IncomingOrder() const { return inOrder_; }
  int OutgoingOrder() const { return outOrder_; }

  bool Write(const void* data, uint32_t count);
  bool WriteByte(uint8_t value);
  bool WriteUInt16(uint16_t value);
  bool WriteUInt32(uint32_t value);
  // Sends every queued outgoing block, each with one Socket::SendBinary.
  bool Flush();

  // Takes exactly count bytes, receiving from the link as needed; false when the link fails.
  bool Read(void* dest, uint32_t count);
  bool ReadByte(uint8_t& value);
  bool ReadUInt16(uint16_t& value);
  bool ReadUInt32(uint32_t& value);
  // Reads count bytes and drops them.
  bool Kill(uint32_t count);

  // Reads count bytes from link and appends them to this buffer's incoming queue; nothing is
  // appended when the read fails. Memory grows only with the bytes that actually arrive.
  bool AppendFromLink(Buffer& link, uint32_t count);
  // Moves count bytes from the front of this buffer's outgoing queue into link with one Write.
  bool SendQueued(Buffer& link, uint32_t count);

  // Removes and returns every unconsumed incoming byte.
  std::vector<unsigned char> TakeIncoming();
  // Drops everything queued in both directions, or only the outgoing queue.
  void Reset();
  void DropOutgoing();

  Socket& GetSocket() { return *link_; }
  // Replaces the link (not yet connected) by another transport, e.g. TLS.
  void SetLink(std::unique_ptr<Socket> link) { link_ = std::move(link); }
  uint32_t IncomingCount() const { return inCount_; }
  uint32_t OutgoingCount() const { return outCount_; }
  // Filled sizes of the outgoing blocks, oldest first.
  std::vector<uint32_t> OutgoingBlocks() const;

 private:
  bool Poll();

  uint32_t blockCapacity_ = kBlockCapacity;
  int inOrder_ = 1;
  int outOrder_ = 1;
  std::deque<BufferSpace> in_;
  std::deque<BufferSpace> out_;
  std::unique_ptr<Socket> link_;
  uint32_t inCount_ = 0;
  uint32_t outCount_ = 0;
};

// Appends the byte trace of one chunk to the log file (debug level 3 or more only).
void TraceBytes(const unsigned char* data, int count, bool sent);
