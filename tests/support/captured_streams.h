// Captures std::cout and std::cerr for the length of a test, remembering
// where each stream was flushed. `onWrite` is called for every write; the
// unit tests use it to tell the fake platform, since a console write may
// change the thread's last-error code.
#ifndef CERTINSTALL_TESTS_SUPPORT_CAPTURED_STREAMS_H
#define CERTINSTALL_TESTS_SUPPORT_CAPTURED_STREAMS_H

#include <iostream>
#include <set>
#include <streambuf>
#include <string>

class RecordingBuffer : public std::streambuf {
 public:
  explicit RecordingBuffer(void (*onWrite)()) : onWrite(onWrite) {}

  std::string text;
  std::set<std::size_t> flushedAt;  // lengths of `text` at each flush

  // Every line end is followed by a flush before anything else is written,
  // and nothing is left unflushed.
  bool everyLineFlushed() const {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n' && flushedAt.count(i + 1) == 0) return false;
    }
    return text.empty() || flushedAt.count(text.size()) == 1;
  }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      text.push_back(traits_type::to_char_type(c));
      if (onWrite != nullptr) onWrite();
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    text.append(s, static_cast<std::size_t>(n));
    if (onWrite != nullptr) onWrite();
    return n;
  }
  int sync() override {
    flushedAt.insert(text.size());
    return 0;
  }

 private:
  void (*onWrite)();
};

class CapturedStreams {
 public:
  explicit CapturedStreams(void (*onWrite)() = nullptr)
      : out(onWrite), err(onWrite), oldOut(std::cout.rdbuf(&out)), oldErr(std::cerr.rdbuf(&err)) {}
  ~CapturedStreams() {
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
  }
  CapturedStreams(const CapturedStreams&) = delete;
  CapturedStreams& operator=(const CapturedStreams&) = delete;

  RecordingBuffer out;
  RecordingBuffer err;

  // Standard error flushes after every write, and flushes standard output
  // first, as long as nobody changed the streams' defaults.
  static bool errorStreamUnitBufferedAndTied() {
    return (std::cerr.flags() & std::ios::unitbuf) != 0 && std::cerr.tie() == &std::cout;
  }

 private:
  std::streambuf* oldOut;
  std::streambuf* oldErr;
};

#endif
