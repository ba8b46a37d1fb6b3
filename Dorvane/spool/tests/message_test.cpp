#include "spool/message.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "base/runtime_error.h"
#include "spool/message_format.h"
#include "spool/spool_file.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

CMessage NewOneRecipientMessage() {
  CMessage m;
  m.ID = "ABC";
  m.TxtEng = SpoolWarningEnglish();
  m.TxtFr = SpoolWarningFrench();
  m.From = "<a@b.c>";
  m.AddRcptTo("<d@e.fr>");
  m.Data = "Hi\r\n";
  return m;
}

std::string Len(uint16_t n) { return std::string{static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)}; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void ExpectSameMessage(const CMessage& want, const CMessage& got) {
  EXPECT_EQ(want.ID, got.ID);
  EXPECT_EQ(want.TxtEng, got.TxtEng);
  EXPECT_EQ(want.TxtFr, got.TxtFr);
  EXPECT_EQ(want.Essai, got.Essai);
  EXPECT_EQ(want.LastError, got.LastError);
  EXPECT_EQ(want.ForSender, got.ForSender);
  EXPECT_EQ(want.From, got.From);
  EXPECT_EQ(want.RcptToList(), got.RcptToList());
  EXPECT_EQ(want.Data.size(), got.Data.size());
  EXPECT_TRUE(want.Data == got.Data) << "message text differs";
}

TEST(SpoolFormat, NewOneRecipientMessageHasExactBytes) {
  std::string want = Len(3) + "ABC" +
                     Len(32) + "\r\n==> DO NOT ALTER THIS FILE !\r\n" +
                     Len(36) + "\r\n==> NE PAS MODIFIER CE FICHIER !\r\n" +
                     std::string("\x00", 1) +                 // Essai
                     Len(0) +                                 // LastError
                     Len(0) +                                 // ForSender false
                     Len(7) + "<a@b.c>" +
                     Len(1) + std::string("\x02\x00\x00\x00", 4) + std::string(4, '\0') +
                     Len(0) + Len(8) + "<d@e.fr>" +
                     Len(4) + "Hi\r\n";
  EXPECT_EQ(want, EncodeMessage(NewOneRecipientMessage()));
}

TEST(SpoolFormat, TrueIsFFFFAndEssaiIsOneByte) {
  CMessage m = NewOneRecipientMessage();
  m.ForSender = true;
  m.Essai = 200;
  m.LastError = "x";
  std::string bytes = EncodeMessage(m);
  size_t at = 2 + 3 + 2 + 32 + 2 + 36;
  EXPECT_EQ('\xC8', bytes[at]);
  EXPECT_EQ(Len(1) + "x" + "\xFF\xFF", bytes.substr(at + 1, 5));
}

TEST(SpoolFormat, LongTextsUseTheEscapeAndRoundTrip) {
  for (size_t size : {size_t{65534}, size_t{65535}, size_t{65536}, size_t{5} << 20}) {
    CMessage m = NewOneRecipientMessage();
    m.Data.assign(size, 'x');
    for (size_t i = 0; i < size; i += 997) m.Data[i] = static_cast<char>(i % 256);
    std::string bytes = EncodeMessage(m);
    size_t start = bytes.size() - size;
    if (size < 65535) {
      EXPECT_EQ(Len(static_cast<uint16_t>(size)), bytes.substr(start - 2, 2)) << size;
    } else {
      std::string len32{static_cast<char>(size & 0xFF), static_cast<char>((size >> 8) & 0xFF),
                        static_cast<char>((size >> 16) & 0xFF), static_cast<char>(size >> 24)};
      EXPECT_EQ("\xFF\xFF" + len32, bytes.substr(start - 6, 6)) << size;
    }
    std::optional<CMessage> back = DecodeMessage(bytes);
    ASSERT_TRUE(back.has_value()) << size;
    ExpectSameMessage(m, *back);
  }
}

TEST(SpoolFormat, EveryTruncatedPrefixIsRejected) {
  CMessage m = NewOneRecipientMessage();
  m.AddRcptTo("<x@y.z>");
  m.Data.assign(70000, 'q');  // escaped length on the last field
  std::string bytes = EncodeMessage(m);
  // Every cut through the header fields, and a few inside the long text.
  for (size_t cut = 0; cut < bytes.size(); cut += (cut < 200 ? 1 : 9973)) {
    std::string error;
    EXPECT_FALSE(DecodeMessage(std::string_view(bytes).substr(0, cut), &error).has_value()) << cut;
    EXPECT_FALSE(error.empty()) << cut;
  }
  EXPECT_TRUE(DecodeMessage(bytes).has_value());
}

TEST(SpoolFormat, DamagedListHeaderOrTrailingBytesAreRejected) {
  std::string good = EncodeMessage(NewOneRecipientMessage());
  size_t list = good.find("<a@b.c>") + 7;
  struct Case {
    const char* what;
    size_t offset;
    std::string bytes;
  } cases[] = {
      {"two dimensions", list, Len(2)},
      {"no element", list + 2, std::string(4, '\0')},
      {"257 elements", list + 2, std::string("\x01\x01\x00\x00", 4)},
      {"huge element count", list + 2, std::string("\xFF\xFF\xFF\xFF", 4)},
      {"lower bound 1", list + 6, std::string("\x01\x00\x00\x00", 4)},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    bad.replace(c.offset, c.bytes.size(), c.bytes);
    EXPECT_FALSE(DecodeMessage(bad).has_value()) << c.what;
  }
  EXPECT_FALSE(DecodeMessage(good + "x").has_value());
}

TEST(CMessage, RecipientListOperations) {
  CMessage m = NewOneRecipientMessage();
  m.Essai = 3;
  m.LastError = "boom";
  m.ForSender = true;
  m.MClear();
  EXPECT_EQ(0, m.MRcptToCount());
  EXPECT_EQ("", m.From);
  EXPECT_EQ("", m.Data);
  EXPECT_EQ("", m.LastError);
  EXPECT_EQ(0, m.Essai);
  EXPECT_EQ("ABC", m.ID);  // kept
  EXPECT_TRUE(m.ForSender);
  EXPECT_EQ(SpoolWarningFrench(), m.TxtFr);

  m.OneRcptTo();
  EXPECT_EQ(1, m.MRcptToCount());
  EXPECT_EQ("", m.RcptTo(1));
  EXPECT_THROW(m.RcptTo(2), RuntimeError);
  EXPECT_THROW(m.RcptTo(-1), RuntimeError);

  m.MClear();
  for (int i = 0; i < 255; ++i) m.AddRcptTo("<r@d.e>");
  EXPECT_EQ(255, m.MRcptToCount());
  EXPECT_THROW(m.AddRcptTo("<one@too.many>"), RuntimeError);
}

// A slot keeps its CMessage for the life of the program: a large message
// it once carried must not stay in memory behind it.
TEST(CMessage, ClearGivesBackTheMemoryOfALargeMessage) {
  CMessage m = NewOneRecipientMessage();
  for (int i = 0; i < 1024; ++i) m.Data.append(std::string(1024, 'x'));
  m.MClear();
  EXPECT_EQ(std::string().capacity(), m.Data.capacity());
}

TEST(CMessage, WriteThenOpenGivesEveryFieldBack) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  CMessage m = NewOneRecipientMessage();
  m.AddRcptTo("<second@e.fr>");
  m.Essai = 4;
  m.LastError = "421 busy";
  m.Data.assign(3 << 20, 'z');
  std::string path = SpoolPath(kOutBox, m.ID);
  m.MWrite(t.files, t.logs, path);
  EXPECT_EQ(std::vector<std::string>{"ABC"}, t.FolderFiles("OutBox"));  // no staging file left

  CMessage read;
  read.MOpen(t.files, t.logs, path);
  ExpectSameMessage(m, read);
}

TEST(CMessage, MWriteReplacesAnExistingFileWhole) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  CMessage m = NewOneRecipientMessage();
  std::string path = SpoolPath(kDeferred, m.ID);
  m.Data.assign(100000, 'a');
  m.MWrite(t.files, t.logs, path);
  m.Data = "short\r\n";
  m.Essai = 1;
  m.MWrite(t.files, t.logs, path);
  EXPECT_EQ(EncodeMessage(m), ReadAll(path));
}

TEST(CMessage, OpenOfMissingFileChangesNothing) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  CMessage m = NewOneRecipientMessage();
  m.MOpen(t.files, t.logs, SpoolPath(kOutBox, "NOPE"));
  ExpectSameMessage(NewOneRecipientMessage(), m);
}

// A truncated file, one larger than any message the relay writes (not read
// past the bound) and one that cannot be read.
TEST(CMessage, OpenOfDamagedFileThrowsAndKeepsTheObject) {
  TestEnvironment t;
  t.ResetSpoolFolders();
  std::string bytes = EncodeMessage(NewOneRecipientMessage());
  t.program.Write("OutBox/CUT", bytes.substr(0, bytes.size() - 1));
  t.program.Write("OutBox/HUGE", bytes);
  std::filesystem::resize_file(t.program.Path("OutBox/HUGE"), kMaxMessageBytes + 2 * 1024 * 1024);
  t.program.Write("OutBox/LOCKED", bytes);
  t.files.Fail("Read", "LOCKED", EACCES);
  const std::pair<std::string, long> cases[] = {
      {"CUT", kErrInputPastEnd}, {"HUGE", kErrInputPastEnd}, {"LOCKED", kErrPermissionDenied}};
  for (const auto& [name, number] : cases) {
    CMessage m;
    m.From = "<keep@me.now>";
    try {
      m.MOpen(t.files, t.logs, SpoolPath(kOutBox, name));
      ADD_FAILURE() << name << " was read";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), number) << name;
    }
    EXPECT_EQ("<keep@me.now>", m.From) << name;
  }
}

// A full disk, a refused rename or a missing folder: the write fails and
// leaves neither the file nor its staging copy.
TEST(CMessage, FailedWriteLeavesNothingBehind) {
  struct Case {
    const char* operation;
    int error;
    long number;
  } cases[] = {
      {"WriteDurable", ENOSPC, kErrPermissionDenied},
      {"WriteDurable", ENOENT, kErrPathNotFound},
      {"Rename", EACCES, kErrPermissionDenied},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.error));
    TestEnvironment t;
    t.ResetSpoolFolders();
    t.files.Fail(c.operation, "ABC", c.error);
    CMessage m = NewOneRecipientMessage();
    try {
      m.MWrite(t.files, t.logs, SpoolPath(kOutBox, m.ID));
      ADD_FAILURE() << "MWrite returned";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), c.number);
    }
    EXPECT_EQ(std::vector<std::string>{}, t.FolderFiles("OutBox"));
  }
}

}  // namespace
}  // namespace dorvane
