// A scripted stand-in for the platform operations in platform/win32.h, linked
// into the unit tests in place of the host layer. Every call is recorded, in
// order, as readable text; any call's result can be scripted to fail.
// fakeReset() before each test.
#ifndef CERTINSTALL_TESTS_FAKE_FAKE_PLATFORM_H
#define CERTINSTALL_TESTS_FAKE_FAKE_PLATFORM_H

#include <string>
#include <vector>

#include "platform/win32.h"

void fakeReset();

// The calls so far, e.g. "FindResourceW(module, #101, \"prod\")",
// "CertOpenStore(10, 0, 0, 0x10000, \"ROOT\")", "GetLastError() = 5".
const std::vector<std::string>& fakeCalls();

// Adds a resource that FindResourceW finds by its type name, without regard to
// case, and its integer ID. Nothing is found that was not added.
void fakeAddResource(const std::string& type, DWORD id, const std::vector<BYTE>& bytes);

// Makes SizeofResource report `size` whatever the resource holds.
void fakeOverrideResourceSize(DWORD size);

// Makes call number `callNumber` (1 for the first) of `operation` fail: return
// null (or 0, for SizeofResource and CertAddCertificateContextToStore) and
// leave `lastError` as the thread's last-error code.
void fakeFailCall(const std::string& operation, int callNumber, DWORD lastError);

// The encoded issuer and subject names of the next context that
// CertCreateCertificateContext makes. Unscripted contexts get names of
// different lengths, as an intermediate has.
void fakeNextCertificateNames(const std::vector<BYTE>& issuer, const std::vector<BYTE>& subject);

// What the thread's last-error code is set to whenever the tests' captured
// streams are written: a console write may change it on Windows.
const DWORD kFakeErrorAfterWrite = 0xDEADBEEF;
void fakeNoteStreamWrite();

// The pointers and lengths given to CertCreateCertificateContext, in order.
struct FakeParse {
  const BYTE* data;
  DWORD size;
};
const std::vector<FakeParse>& fakeParses();

#endif
