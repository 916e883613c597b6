// A stream for link tests: the test feeds the bytes the "module" sends and
// sees every write the link makes, one entry per write call. Writes can be
// held back (the writer then blocks inside its write) and released. Gets can
// be made to wait for a byte, as over USB, and to fail once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "sdk/core/tStream.h"

namespace linktest {

class FakeStream {
 public:
  // A stream over this fake; the link that gets it owns the tStream, the
  // test keeps the FakeStream (it must outlive the link). Without a wait
  // function the get must pace the reader itself (see BlockingGets), as a
  // libusb bulk transfer does.
  tStream* Make(bool withWait = true) {
    tStream* s = tStream_Create(sGet, sPut, sWrite, nullptr, this);
    if (withWait) tStream_SetWaitProc(s, sWait);
    return s;
  }

  void Feed(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    in_.insert(in_.end(), bytes.begin(), bytes.end());
    cv_.notify_all();
  }
  void HoldWrites(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
    cv_.notify_all();
  }
  // Every write takes this long (the other side drains slowly).
  void SlowWrites(std::chrono::microseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    delay_ = delay;
  }
  // A get with nothing to give waits this long for a byte before it says
  // "not ready", as a USB transfer or the kernel node's read does.
  void BlockingGets(std::chrono::milliseconds wait) {
    std::lock_guard<std::mutex> lock(mutex_);
    getWait_ = wait;
  }
  // The next get fails with this code, once (a damaged frame, say); a wait
  // says a get is worth calling.
  void FailNextGet(tErr error) {
    std::lock_guard<std::mutex> lock(mutex_);
    failNext_ = error;
    cv_.notify_all();
  }
  std::vector<std::vector<uint8_t>> Writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  void ClearWrites() {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.clear();
  }
  // All written bytes, concatenated.
  std::vector<uint8_t> Written() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint8_t> all;
    for (auto& w : writes_) all.insert(all.end(), w.begin(), w.end());
    return all;
  }
  // True when a write call is blocked by HoldWrites.
  bool WriterBlocked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocked_;
  }
  // Waits until pred(Written()) holds, at most `seconds`.
  template <class Pred>
  bool WaitWritten(Pred pred, double seconds = 3) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      std::vector<uint8_t> all;
      for (auto& w : writes_) all.insert(all.end(), w.begin(), w.end());
      if (pred(all)) return true;
      if (cv_.wait_until(lock, end) == std::cv_status::timeout) return false;
    }
  }

 private:
  static tErr sGet(uint8_t* byte, void* ref) {
    auto* f = static_cast<FakeStream*>(ref);
    std::unique_lock<std::mutex> lock(f->mutex_);
    if (f->failNext_ != tErrNone) {
      const tErr e = f->failNext_;
      f->failNext_ = tErrNone;
      return e;
    }
    if (f->in_.empty() && f->getWait_.count() > 0) {
      f->cv_.wait_for(lock, f->getWait_, [f] { return !f->in_.empty(); });
    }
    if (f->in_.empty()) return tErrNotReady;
    *byte = f->in_.front();
    f->in_.pop_front();
    return tErrNone;
  }
  static tErr sWrite(const uint8_t* data, uint32_t length, void* ref) {
    auto* f = static_cast<FakeStream*>(ref);
    std::unique_lock<std::mutex> lock(f->mutex_);
    f->blocked_ = f->hold_;
    f->cv_.notify_all();
    f->cv_.wait(lock, [f] { return !f->hold_; });
    f->blocked_ = false;
    if (f->delay_.count() > 0) {
      const auto delay = f->delay_;
      lock.unlock();
      std::this_thread::sleep_for(delay);
      lock.lock();
    }
    f->writes_.emplace_back(data, data + length);
    f->cv_.notify_all();
    return tErrNone;
  }
  static tErr sPut(const uint8_t* byte, void* ref) { return sWrite(byte, 1, ref); }
  static tErr sWait(uint32_t timeoutMs, void* ref) {
    auto* f = static_cast<FakeStream*>(ref);
    std::unique_lock<std::mutex> lock(f->mutex_);
    const bool any = f->cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [f] { return !f->in_.empty() || f->failNext_ != tErrNone; });
    return any ? tErrNone : tErrTimeout;
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<uint8_t> in_;
  std::vector<std::vector<uint8_t>> writes_;
  bool hold_ = false;
  bool blocked_ = false;
  std::chrono::microseconds delay_{0};
  std::chrono::milliseconds getWait_{0};
  tErr failNext_ = tErrNone;
};

// Counts occurrences of the magic packet 0xAD 0x00 in the written bytes.
inline size_t MagicCount(const std::vector<uint8_t>& bytes) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i++) {
    if (bytes[i] == 0xAD && bytes[i + 1] == 0x00) {
      n++;
      i++;
    }
  }
  return n;
}

}  // namespace linktest
