#include "loops/coeffs.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/number_text.h"
#include "scoped_temp_dir.h"

using namespace loopmon;
namespace fs = std::filesystem;

namespace {

class CoeffsTest : public ::testing::Test {
 protected:
  void TearDown() override { fs::permissions(folder.path(), fs::perms::owner_all); }
  void write(const std::string& text) { loopmon::testing::writeFile(path, text); }
  std::string content() const { return loopmon::testing::readFile(path); }
  // The message of the error that `call` throws, or "done".
  template <typename Call>
  static std::string errorOf(Call call) {
    try {
      call();
    } catch (const RtlError& error) {
      return error.what();
    }
    return "done";
  }

  loopmon::testing::ScopedTempDir folder;
  std::string path = folder.file("ohmgauge.kft");
  CoefficientsStore store{path, ','};
};

const CalibrationPoints workedExample{"200", "100", "1,04", "3,08"};

}  // namespace

TEST_F(CoeffsTest, BuiltInTableBoundaries) {
  const struct {
    uint8_t type, version;
    double a, b;
  } table[] = {
      {1, 0, 408, -1},
      {1, 154, 408, -1},
      {1, 155, 415.577142857143, -1.01142857142857},
      {1, 255, 415.577142857143, -1.01142857142857},
      {2, 0, 290.181818181818, -0.0909090909090934},
      {2, 255, 290.181818181818, -0.0909090909090934},
      {4, 100, 296.830188679245, -0.905660377358491},
      {11, 105, 265.254901960784, -0.980392156862745},
      {0, 154, 0, 0},
      {3, 100, 0, 0},
      {9, 100, 0, 0},
      {255, 255, 0, 0},
  };
  for (const auto& entry : table) {
    const Coefficients found = store.Lookup(entry.type, entry.version);
    EXPECT_EQ(found.a, entry.a) << int(entry.type) << "-" << int(entry.version);
    EXPECT_EQ(found.b, entry.b) << int(entry.type) << "-" << int(entry.version);
  }
  EXPECT_FALSE(store.LoadPoints(1, 160));
}

TEST_F(CoeffsTest, WorkedExampleIsStoredInOrderAndUsedByTheNextLookup) {
  EXPECT_EQ(store.Save(1, 154, 2, "9,99", workedExample), "1-154") << "selected device wins";
  EXPECT_EQ(content(), "[1-154]\nACP1=200\nACP2=100\nR1=1,04\nR2=3,08\na=408\nb=-1\n");
  EXPECT_EQ(store.Lookup(1, 154).a, 408);
  EXPECT_EQ(store.Lookup(1, 154).b, -1);
  EXPECT_EQ(store.LoadPoints(1, 154)->R1, "1,04");
  EXPECT_EQ(store.Save(0, 0, 4, "2,10", workedExample), "4-210");

  // An ADC entry is reduced to eight bits for the sums but stored as typed.
  store.Save(2, 105, 0, "", {"300", "100", "1,04", "3,08"});
  const Coefficients reduced = ComputeCoefficients({"44", "100", "1,04", "3,08"}, ',');
  EXPECT_NEAR(store.Lookup(2, 105).a, reduced.a, 1e-9 * std::abs(reduced.a));
  EXPECT_NEAR(reduced.a / 44 + reduced.b, 1.04, 1e-12);
  EXPECT_EQ(store.LoadPoints(2, 105)->ACP1, "300");
}

TEST_F(CoeffsTest, HandWrittenSectionsAreUsedAsTheyStand) {
  write("[ 2-105 ]\n  A = 300,5 \n B=-2\n  acp1 = 7\n[1-160]\nACP1=200\n[4-100]\na=1.5\nb=0\n");
  EXPECT_EQ(store.Lookup(2, 105).a, 300.5);
  EXPECT_EQ(store.Lookup(2, 105).b, -2);
  EXPECT_EQ(store.LoadPoints(2, 105)->ACP1, "7");
  EXPECT_EQ(store.LoadPoints(1, 160)->R2, "");
  EXPECT_EQ(errorOf([&] { store.Lookup(1, 160); }), "'' is not a valid floating point value");
  EXPECT_EQ(errorOf([&] { store.Lookup(4, 100); }), "'1.5' is not a valid floating point value");
}

TEST_F(CoeffsTest, RefusedSavesLeaveTheFileAsItWas) {
  const auto save = [&](CalibrationPoints points) {
    return errorOf([&] { store.Save(1, 160, 0, "", points); });
  };
  EXPECT_EQ(save({"2x", "100", "1,04", "3,08"}), "'2x' is not a valid integer value");
  EXPECT_EQ(save({"200", "256", "1,04", "3,08"}), "Floating point division by zero");
  EXPECT_EQ(save({"100", "$64", "3,08", "3,08"}), "Invalid floating point operation");
  EXPECT_EQ(save({"1", "255", "1e308", "-1e308"}), "Floating point overflow");
  EXPECT_FALSE(fs::exists(path));

  const std::string before = "[1-160]\r\nACP1=1\r\nnote=kept\r\n";
  write(before);
  fs::permissions(path, fs::perms::owner_read);
  EXPECT_EQ(save(workedExample), "Unable to write to " + path);
  EXPECT_EQ(content(), before);

  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(save(workedExample), "done");
  EXPECT_EQ(
      content(),
      "[1-160]\r\nACP1=200\r\nnote=kept\r\nACP2=100\r\nR1=1,04\r\nR2=3,08\r\na=408\r\nb=-1\r\n");
}
