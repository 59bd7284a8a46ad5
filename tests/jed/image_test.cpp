// Whole fuse files from the writer: every row of the record read back byte for byte, in every
// form the writer has, and files parsed one after the other into one record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fusekit.h"
#include "jed_test_support.h"
#include "jed_writer.h"
#include "target_program.h"

namespace {

using jed_writer::FeatureRowFormat;
using jed_writer::UserCodeFormat;

std::unique_ptr<IspInfo> SampleImage(uint32_t seed) {
  std::unique_ptr<IspInfo> image = jed_test::MarkedRecord();
  jed_writer::FillSampleImage(seed, image.get());
  return image;
}

TEST(FullImage, EveryRowAndValueReadsBackInEveryForm) {
  jed_test::TempDir dir;
  const std::string path = dir.File("full.jed");
  uint32_t seed = 1;
  for (bool crlf : {false, true}) {
    for (UserCodeFormat usercode_format :
         {UserCodeFormat::kHex, UserCodeFormat::kBinary, UserCodeFormat::kAscii}) {
      for (FeatureRowFormat feature_row_format : {FeatureRowFormat::kBinary, FeatureRowFormat::kHex}) {
        SCOPED_TRACE(testing::Message() << "crlf " << crlf << " usercode form "
                                        << static_cast<int>(usercode_format) << " E form "
                                        << static_cast<int>(feature_row_format));
        std::unique_ptr<IspInfo> image = SampleImage(++seed);
        image->default_fuse_state = static_cast<int32_t>(seed & 1);
        if (usercode_format == UserCodeFormat::kAscii) image->usercode = 0x44434241 + seed;
        jed_writer::Options options;
        options.crlf = crlf;
        options.usercode_format = usercode_format;
        options.feature_row_format = feature_row_format;
        std::string error;
        ASSERT_TRUE(jed_writer::WriteJedFile(path, *image, options, &error)) << error;

        std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
        output_capture::StartStderr();
        EXPECT_EQ(0, ParserJEDFile(path.c_str(), record.get()));
        EXPECT_EQ("", output_capture::TakeStderr());
        EXPECT_TRUE(jed_test::SameRecord(*image, *record))
            << jed_test::RecordDifference(*image, *record);
      }
    }
  }
}

TEST(FullImage, SecondFileOverwritesOnlyWhatItLists) {
  jed_test::TempDir dir;
  std::unique_ptr<IspInfo> first = SampleImage(7);
  std::string text, error;
  ASSERT_TRUE(jed_writer::WriteJed(*first, jed_writer::Options(), &text, &error)) << error;
  std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
  ASSERT_EQ(0, jed_test::ParseBytes(dir, text, record.get()).result);

  const std::string row = jed_test::RowText(3);
  const jed_test::Outcome second = jed_test::ParseBytes(
      dir, jed_test::Stx("UH1*\nL409472\n" + row + "\n*\n"), record.get());
  EXPECT_EQ(0, second.result);
  EXPECT_EQ("", second.diagnostics);
  first->usercode = 1;
  jed_test::RowBytes(row, first->ufm_rows[1]);
  EXPECT_TRUE(jed_test::SameRecord(*first, *record)) << jed_test::RecordDifference(*first, *record);
}

TEST(Writer, WritesTheChecksumsAndTheLayoutOfAVendorFile) {
  std::unique_ptr<IspInfo> image = jed_test::MarkedRecord();
  std::memset(image->cf_rows, 0, sizeof(image->cf_rows) + sizeof(image->ufm_rows));
  image->cf_rows[0][0] = 0x80;     // fuse 0: bit 0 of the first checksum byte
  image->ufm_rows[639][15] = 0x03;  // the last two fuses: bits 6 and 7 of the last byte
  image->feabits = 0x0001;
  image->usercode = 0x89ABCDEF;
  image->default_fuse_state = 0;
  image->fuse_count = ISP_ROW_COUNT * 128;
  EXPECT_EQ(0x01 + 0xC0, jed_writer::FuseChecksum(*image, ISP_ROW_COUNT));
  // Unlisted rows count at the default state: 16 bytes of 0xFF for each of the 3837 rows.
  image->default_fuse_state = 1;
  EXPECT_EQ(static_cast<uint16_t>(0x01 + 3837 * 16 * 0xFF), jed_writer::FuseChecksum(*image, 1));
  image->default_fuse_state = 0;

  std::string text, error;
  ASSERT_TRUE(jed_writer::WriteJed(*image, jed_writer::Options(), &text, &error)) << error;
  EXPECT_EQ('\x02', text[0]);
  EXPECT_NE(std::string::npos, text.find("\nQF491264*\nG0*\nF0*\n"));
  EXPECT_NE(std::string::npos, text.find("\nL000000\n1" + std::string(127, '0') + "\n"));
  EXPECT_NE(std::string::npos, text.find("\nL409344\n"));
  EXPECT_NE(std::string::npos,
            text.find("\nE" + std::string(64, '0') + "\n1" + std::string(15, '0') + "*\n"));
  EXPECT_NE(std::string::npos, text.find("\nUH89ABCDEF*\nC00C1*\n"));
  const size_t etx = text.find('\x03');
  ASSERT_NE(std::string::npos, etx);
  unsigned sum = 0;
  for (size_t i = 0; i <= etx; ++i) sum += static_cast<unsigned char>(text[i]);
  char expected_tail[8];
  std::snprintf(expected_tail, sizeof(expected_tail), "%04X\n", sum & 0xFFFF);
  EXPECT_EQ(expected_tail, text.substr(etx + 1));
  EXPECT_GT(text.size(), 490000u);

  jed_writer::Options ascii;
  ascii.usercode_format = UserCodeFormat::kAscii;
  image->usercode = 0x2A414141;  // "AAA*": the terminator cannot be written as a character
  EXPECT_FALSE(jed_writer::WriteJed(*image, ascii, &text, &error));
}

TEST(Writer, CommandLineWritesTheSampleOfItsSeed) {
  jed_test::TempDir dir;
  const std::string path = dir.File("cli.jed");
  // Started through the emulator on a cross build.
  const target_program::Outcome written = target_program::Run(
      FUSEKIT_MAKE_JED, {"--seed", "42", "--feabits", "0xBEEF", "--usercode", "0x64636261",
                         "--usercode-format", "ascii", "--feature-row-format", "hex", "--crlf",
                         path});
  ASSERT_EQ(0, written.exit_status) << written.err;
  std::unique_ptr<IspInfo> expected = SampleImage(42);
  expected->feabits = 0xBEEF;
  expected->usercode = 0x64636261;
  std::unique_ptr<IspInfo> record = jed_test::MarkedRecord();
  output_capture::StartStderr();
  EXPECT_EQ(0, ParserJEDFile(path.c_str(), record.get()));
  EXPECT_EQ("", output_capture::TakeStderr());
  EXPECT_TRUE(jed_test::SameRecord(*expected, *record))
      << jed_test::RecordDifference(*expected, *record);

  EXPECT_NE(0, target_program::Run(FUSEKIT_MAKE_JED, {"--rows", "3839", path}).exit_status);
}

}  // namespace
