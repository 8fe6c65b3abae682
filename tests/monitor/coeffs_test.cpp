#include "monitor/coeffs.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/number_text.h"

using namespace loopmon;
namespace fs = std::filesystem;

namespace {

class CoeffsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("coeffs_test_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = (folder_ / "ohmgauge.kft").string();
  }
  void TearDown() override {
    fs::permissions(folder_, fs::perms::owner_all);
    fs::remove_all(folder_);
  }
  void write(const std::string& content) { std::ofstream(path_, std::ios::binary) << content; }
  std::string content() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The message of the error that `save` throws, or "saved".
  template <typename Save>
  static std::string errorOf(Save save) {
    try {
      save();
    } catch (const RtlError& error) {
      return error.what();
    }
    return "saved";
  }

  fs::path folder_;
  std::string path_;
};

const CalibrationPoints workedExample{"200", "100", "1,04", "3,08"};

}  // namespace

TEST_F(CoeffsTest, BuiltInTableWithoutAFile) {
  const CoefficientsStore store(path_, ',');
  const auto expect = [&](uint8_t type, uint8_t version, double a, double b) {
    const Coefficients c = store.Lookup(type, version);
    EXPECT_EQ(c.a, a) << int(type) << "-" << int(version);
    EXPECT_EQ(c.b, b) << int(type) << "-" << int(version);
  };
  expect(1, 0, 408, -1);
  expect(1, 154, 408, -1);
  expect(1, 155, 415.577142857143, -1.01142857142857);
  expect(1, 255, 415.577142857143, -1.01142857142857);
  expect(2, 105, 290.181818181818, -0.0909090909090934);
  expect(4, 1, 296.830188679245, -0.905660377358491);
  expect(11, 105, 265.254901960784, -0.980392156862745);
  expect(9, 100, 0, 0);
  expect(0, 0, 0, 0);
  EXPECT_FALSE(store.LoadPoints(1, 160));
}

TEST_F(CoeffsTest, WorkedExampleIsWrittenInOrderAndReadBack) {
  CoefficientsStore store(path_, ',');
  EXPECT_EQ(store.Save(1, 154, 2, "9,99", workedExample), "1-154");
  EXPECT_EQ(content(), "[1-154]\nACP1=200\nACP2=100\nR1=1,04\nR2=3,08\na=408\nb=-1\n");
  const Coefficients c = store.Lookup(1, 154);
  EXPECT_EQ(c.a, 408);
  EXPECT_EQ(c.b, -1);
  const auto points = store.LoadPoints(1, 154);
  ASSERT_TRUE(points);
  EXPECT_EQ(points->R1, "1,04");
  EXPECT_EQ(points->ACP2, "100");

  CoefficientsStore pointStore(path_, '.');
  pointStore.Save(1, 160, 0, "", {"200", "100", "1.04", "3.08"});
  EXPECT_EQ(pointStore.Lookup(1, 160).a, 408);
}

TEST_F(CoeffsTest, AdcIsReducedToEightBitsButStoredAsTyped) {
  CoefficientsStore store(path_, ',');
  store.Save(2, 105, 0, "", {"300", "100", "1,04", "3,08"});
  const Coefficients reduced = ComputeCoefficients({"44", "100", "1,04", "3,08"}, ',');
  const Coefficients stored = store.Lookup(2, 105);
  EXPECT_NEAR(stored.a, reduced.a, 1e-9 * std::abs(reduced.a));
  EXPECT_NEAR(stored.b, reduced.b, 1e-9 * std::abs(reduced.b));
  EXPECT_EQ(store.LoadPoints(2, 105)->ACP1, "300");
  // The model passes through both points.
  EXPECT_NEAR(reduced.a / 44 + reduced.b, 1.04, 1e-12);
  EXPECT_NEAR(reduced.a / 100 + reduced.b, 3.08, 1e-12);
}

TEST_F(CoeffsTest, SectionNaming) {
  CoefficientsStore store(path_, ',');
  EXPECT_EQ(store.Save(2, 105, 11, "1,60", workedExample), "2-105") << "selected device wins";
  EXPECT_EQ(store.Save(0, 0, 11, "1,05", workedExample), "11-105");
  EXPECT_EQ(store.Save(2, 0, 4, "2,10", workedExample), "4-210");
  EXPECT_EQ(store.Save(0, 7, 1, "5", workedExample), "1-5");
  EXPECT_EQ(store.Lookup(2, 105).a, 408) << "the next reading of the device uses its section";
  EXPECT_EQ(store.Lookup(11, 105).b, -1);
}

TEST_F(CoeffsTest, PresentSectionIsUsedAsItStands) {
  write("[ 2-105 ]\n  A = 300,5 \n B=-2\n  acp1 = 7\n[1-160]\nACP1=200\n[4-100]\na=1.5\nb=0\n");
  const CoefficientsStore store(path_, ',');
  const Coefficients c = store.Lookup(2, 105);
  EXPECT_EQ(c.a, 300.5);
  EXPECT_EQ(c.b, -2);
  EXPECT_EQ(store.LoadPoints(2, 105)->ACP1, "7");
  EXPECT_EQ(store.LoadPoints(1, 160)->R2, "");
  EXPECT_EQ(errorOf([&] { store.Lookup(1, 160); }), "'' is not a valid floating point value");
  EXPECT_EQ(errorOf([&] { store.Lookup(4, 100); }), "'1.5' is not a valid floating point value")
      << "a point is no separator under a comma locale";
}

TEST_F(CoeffsTest, BadEntriesFailBeforeTheFileIsTouched) {
  CoefficientsStore store(path_, ',');
  const auto save = [&](CalibrationPoints points) {
    return errorOf([&] { store.Save(1, 160, 0, "", points); });
  };
  EXPECT_EQ(save({"200", "100", "abc", "3,08"}), "'abc' is not a valid floating point value");
  EXPECT_EQ(save({"200", "100", "1,04", "3.08"}), "'3.08' is not a valid floating point value");
  EXPECT_EQ(save({"2x", "100", "1,04", "3,08"}), "'2x' is not a valid integer value");
  EXPECT_EQ(save({"200", "", "1,04", "3,08"}), "'' is not a valid integer value");
  EXPECT_EQ(save({"0", "100", "1,04", "3,08"}), "Floating point division by zero");
  EXPECT_EQ(save({"200", "256", "1,04", "3,08"}), "Floating point division by zero");
  EXPECT_EQ(save({"100", "100", "1,04", "3,08"}), "Floating point division by zero");
  EXPECT_EQ(save({"100", "$64", "3,08", "3,08"}), "Invalid floating point operation");
  EXPECT_EQ(save({"1", "255", "1e308", "-1e308"}), "Floating point overflow");
  EXPECT_FALSE(fs::exists(path_));
}

TEST_F(CoeffsTest, RefusedWriteLeavesTheFileAsItWas) {
  const std::string before = "[1-160]\r\nACP1=1\r\nnote=kept\r\n";
  write(before);
  fs::permissions(path_, fs::perms::owner_read);
  CoefficientsStore store(path_, ',');
  EXPECT_EQ(errorOf([&] { store.Save(1, 160, 0, "", workedExample); }),
            "Unable to write to " + path_);
  EXPECT_EQ(content(), before);

  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  store.Save(1, 160, 0, "", workedExample);
  EXPECT_EQ(
      content(),
      "[1-160]\r\nACP1=200\r\nnote=kept\r\nACP2=100\r\nR1=1,04\r\nR2=3,08\r\na=408\r\nb=-1\r\n");
}

TEST_F(CoeffsTest, ReadOnlyFolderRefusesTheFirstSave) {
  fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
  CoefficientsStore store(path_, ',');
  EXPECT_EQ(errorOf([&] { store.Save(0, 0, 11, "1,05", workedExample); }),
            "Unable to write to " + path_);
  EXPECT_FALSE(fs::exists(path_));
}
