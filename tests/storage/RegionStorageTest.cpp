// Region storage: chain order, removal rules, warnings, and the PGM label map bytes.
#include <string>
#include <utility>
#include <vector>

#include "storage/S_RegionStorage.h"
#include "support/TestSupport.h"

namespace {

using Pel = std::pair<short, short>;

const char* const kWrongPel = "S_RegionStorage -> Wrong pel coordinates!";
const std::string kHeader8 = "P5\n# Created by Brindle image segmentation tool\n";

// The pels of a region as its chain lists them, first pel first.
std::vector<Pel> chainOf(const S_RegionStorage& storage, const E_RegionInfo* region) {
  std::vector<Pel> pels;
  short x, y;
  storage.getRegFirstPel(region, &x, &y);
  while (x != -1 && y != -1) {
    pels.emplace_back(x, y);
    storage.getNextPel(x, y, &x, &y);
  }
  return pels;
}

// Every pel becomes its own region, labelled with its row-order index.
void labelEveryPel(S_RegionStorage& storage, short width, short height) {
  storage.allocateStorage(width, height);
  for (short y = 0; y < height; ++y)
    for (short x = 0; x < width; ++x) storage.newRegion(x, y)->setObjectID(y * width + x);
}

class RegionStorageTest : public testing::Test {
 protected:
  S_RegionStorage storage{8, 6};
};

TEST_F(RegionStorageTest, ChainRunsFromTheNewestPelBackToTheFirst) {
  E_RegionInfo* region = storage.newRegion(3, 4);
  EXPECT_EQ(storage.addPel2Region(region, 5, 4), 1);
  short x, y;
  storage.getRegFirstPel(region, &x, &y);
  EXPECT_EQ(Pel(x, y), Pel(5, 4));
  EXPECT_EQ(storage.getNextPel(5, 4, &x, &y), 1);
  EXPECT_EQ(Pel(x, y), Pel(3, 4));
  EXPECT_EQ(storage.getNextPel(3, 4, &x, &y), 1);
  EXPECT_EQ(Pel(x, y), Pel(-1, -1));
  storage.addPel2Region(region, 0, 0);
  EXPECT_EQ(chainOf(storage, region), std::vector<Pel>({{0, 0}, {5, 4}, {3, 4}}));
  EXPECT_EQ(region->getNumberOfPels(), 3);
  EXPECT_EQ(storage.getPtr2PelRegion(0, 0), region);
  EXPECT_EQ(storage.getCPtr2PelRegion(1, 0), nullptr);
}

TEST_F(RegionStorageTest, AddingAPelTwiceWarnsAndChangesNothing) {
  E_RegionInfo* region = storage.newRegion(1, 1);
  storage.addPel2Region(region, 2, 1);
  int result = -1;
  const std::string err = captureStderr([&] { result = storage.addPel2Region(region, 2, 1); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(err, warningText("S_RegionStorage::addPel2Region(..) -> Pel has been already added to the region!"));
  EXPECT_EQ(region->getNumberOfPels(), 2);
  EXPECT_EQ(chainOf(storage, region), std::vector<Pel>({{2, 1}, {1, 1}}));
}

TEST_F(RegionStorageTest, MisuseOfPelsAndRegionsIsFatal) {
  E_RegionInfo* first = storage.newRegion(1, 1);
  storage.newRegion(2, 2);
  EXPECT_FATAL(storage.addPel2Region(first, 2, 2),
               "S_RegionStorage::addPel2Region(..) -> Pel already assigned to another region!");
  EXPECT_FATAL(storage.addPel2Region(nullptr, 0, 0), "S_RegionStorage::addPel2Region(..) -> NULL region pointer!");
  EXPECT_FATAL(storage.newRegion(2, 2), "S_RegionStorage::addNewRegion(..) -> Pel already assigned to another region!");
  EXPECT_FATAL(storage.newRegion(8, 0), kWrongPel);
  EXPECT_FATAL(storage.getPtr2PelRegion(0, -1), kWrongPel);
  EXPECT_FATAL(storage.getRegFirstPel(nullptr, nullptr, nullptr),
               "S_RegionStorage::getFirstPelFromRegion->The region pointer is NULL!");
  S_RegionStorage unallocated;
  EXPECT_FATAL(unallocated.newRegion(0, 0), "S_RegionStorage::addNewRegion(..) -> The storage has NOT been allocated yet!");
}

TEST_F(RegionStorageTest, RegionsComeOutNewestFirst) {
  E_RegionInfo* a = storage.newRegion(0, 0);
  E_RegionInfo* b = storage.newRegion(1, 0);
  E_RegionInfo* c = storage.newRegion(2, 0);
  EXPECT_EQ(storage.getRegionNumber(), 3);
  EXPECT_EQ(storage.getRegionList(), c);
  EXPECT_EQ(storage.getNextRegion(c), b);
  EXPECT_EQ(storage.getNextRegion(b), a);
  EXPECT_EQ(storage.getNextRegion(a), nullptr);
  E_RegionInfo* none = a;
  const std::string err = captureStderr([&] { none = storage.getNextRegion(nullptr); });
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(err, warningText("S_RegionStorage::getNextRegion(...) -> The current region pointer is NULL!"));
}

TEST_F(RegionStorageTest, RemovingPelsKeepsTheChainLinked) {
  E_RegionInfo* region = storage.newRegion(0, 0);
  for (short x = 1; x < 4; ++x) storage.addPel2Region(region, x, 0);  // chain 3, 2, 1, 0
  storage.removePelFromRegion(2, 0);
  EXPECT_EQ(chainOf(storage, region), std::vector<Pel>({{3, 0}, {1, 0}, {0, 0}}));
  storage.removePelFromRegion(3, 0);
  storage.removePelFromRegion(0, 0);
  EXPECT_EQ(chainOf(storage, region), std::vector<Pel>({{1, 0}}));
  EXPECT_EQ(region->getNumberOfPels(), 1);
  EXPECT_EQ(storage.getPtr2PelRegion(2, 0), nullptr);

  storage.newRegion(5, 5);
  storage.removePelFromRegion(1, 0);  // the last pel takes its region with it
  EXPECT_EQ(storage.getRegionNumber(), 1);
  EXPECT_EQ(storage.getPtr2PelRegion(1, 0), nullptr);
  const std::string err = captureStderr([&] { storage.removePelFromRegion(1, 0); });
  EXPECT_EQ(err, warningText("S_RegionStorage::removePelFromRegion() -> Pel has NOT been assigned to any region!"));
}

TEST_F(RegionStorageTest, RemovingARegionFreesItsPelsAndRelinksTheList) {
  E_RegionInfo* a = storage.newRegion(0, 0);
  E_RegionInfo* b = storage.newRegion(1, 0);
  storage.addPel2Region(b, 1, 1);
  E_RegionInfo* c = storage.newRegion(2, 0);
  E_RegionInfo* doomed = b;
  storage.removeRegion(doomed);
  EXPECT_EQ(doomed, nullptr);
  EXPECT_EQ(storage.getRegionNumber(), 2);
  EXPECT_EQ(storage.getNextRegion(c), a);
  short x = 0, y = 0;
  const std::string err = captureStderr([&] { EXPECT_EQ(storage.getNextPel(1, 1, &x, &y), 0); });
  EXPECT_EQ(Pel(x, y), Pel(-1, -1));
  EXPECT_EQ(err, warningText("S_RegionStorage -> This pel does NOT belongs to any existing regions!"));
  storage.newRegion(1, 1);  // the freed pel can be taken again

  E_RegionInfo* missing = nullptr;
  EXPECT_EQ(captureStderr([&] { storage.removeRegion(missing); }),
            warningText("S_RegionStorage::removeRegion(...) -> region does not exist!"));
}

TEST_F(RegionStorageTest, ClearKeepsTheMapAndDeallocateKeepsTheSize) {
  storage.newRegion(0, 0);
  storage.newRegion(7, 5);
  storage.clearStorage();
  EXPECT_EQ(storage.getRegionNumber(), 0);
  EXPECT_EQ(storage.isEmpty(), 0);
  EXPECT_EQ(storage.getPtr2PelRegion(7, 5), nullptr);
  storage.newRegion(7, 5);
  storage.deallocateStorage();
  EXPECT_EQ(storage.isEmpty(), 1);
  EXPECT_EQ(storage.getRegionNumber(), 0);
  EXPECT_EQ(storage.getWidth(), 8);
  EXPECT_FATAL(storage.getPtr2PelRegion(0, 0), kWrongPel);  // no map, no pel
}

TEST_F(RegionStorageTest, RegionFieldsAndFrameClampNegatives) {
  E_RegionInfo* region = storage.newRegion(4, 4);
  EXPECT_EQ(region->getObjectID(), -1);
  region->setObjectID(-5);
  EXPECT_EQ(region->getObjectID(), 0);
  region->writeRegRgb(10, 20, 30);
  E_Rgb color;
  region->readRegRgb(&color);
  EXPECT_EQ(color.b, 30);
  region->setRegionPrimaryCM(CM_YUV);  // resets the colour, keeps RGB
  region->readRegRgb(&color);
  EXPECT_EQ(color.r + color.g + color.b, 0);
  region->writeRegMV(-3, 9);
  E_MV2 motion;
  region->readRegMV(&motion);
  EXPECT_EQ(motion.mvx, -3);
  EXPECT_EQ(motion.mvy, 9);
  storage.setFrame(-7);
  EXPECT_EQ(storage.getFrame(), -1);
  EXPECT_EQ(S_RegionStorage().isEmpty(), 1);
}

class LabelMapTest : public testing::Test {
 protected:
  S_RegionStorage storage;
  TempFile file{"labels.pgm"};
};

TEST_F(LabelMapTest, FewerThan256RegionsGiveEightBitSamplesInRowOrder) {
  labelEveryPel(storage, 15, 17);  // 255 regions
  EXPECT_EQ(storage.writeAsPGM(file.path().c_str()), 1);
  std::string expected = kHeader8 + "15 17\n255\n";
  for (int label = 0; label < 255; ++label) expected += static_cast<char>(label);
  EXPECT_EQ(file.contents(), expected);
}

TEST_F(LabelMapTest, From256RegionsSamplesAreSixteenBitsLowByteFirst) {
  labelEveryPel(storage, 301, 1);
  storage.writeAsPGM(file.path().c_str());
  const std::string header = kHeader8 + "301 1\n65535\n";
  const std::string bytes = file.contents();
  ASSERT_EQ(bytes.size(), header.size() + 602);
  EXPECT_EQ(bytes.substr(0, header.size()), header);
  EXPECT_EQ(bytes.substr(header.size() + 2 * 255, 4), std::string("\xFF\x00\x00\x01", 4));
  EXPECT_EQ(bytes.substr(header.size() + 2 * 300, 2), std::string("\x2C\x01", 2));  // 300: 44 then 1

  labelEveryPel(storage, 16, 16);  // exactly 256
  storage.writeAsPGM(file.path().c_str());
  EXPECT_EQ(file.contents().size(), (kHeader8 + "16 16\n65535\n").size() + 512);
}

TEST_F(LabelMapTest, UnsetLabelsWriteTheMaximum) {
  storage.allocateStorage(2, 1);
  E_RegionInfo* region = storage.newRegion(0, 0);
  storage.addPel2Region(region, 1, 0);
  storage.writeAsPGM(file.path().c_str());
  EXPECT_EQ(file.contents(), kHeader8 + "2 1\n255\n\xFF\xFF");
}

TEST_F(LabelMapTest, FreePelsAreRefusedWithoutAFile) {
  storage.allocateStorage(2, 2);
  storage.newRegion(0, 0)->setObjectID(0);
  int result = -1;
  const std::string err = captureStderr([&] { result = storage.writeAsPGM(file.path().c_str()); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(err, warningText("S_RegionStorage::writeAsPGM(...) -> Some pels do not belong to any region!"));
  EXPECT_FALSE(file.exists());
}

TEST_F(LabelMapTest, OpenAndWriteFailuresEndTheRunWithStatusOne) {
  labelEveryPel(storage, 4, 2);
  EXPECT_EXIT(
      {
        stdoutToStderr();
        storage.writeAsPGM("/nonexistent-dir/labels.pgm");
      },
      testing::ExitedWithCode(1), literally("failure in opening file /nonexistent-dir/labels.pgm\n") + "$");
  // A short map fails when the file is closed, a long one while it is written.
  for (short width : {4, 200}) {
    labelEveryPel(storage, width, 100);
    EXPECT_EXIT(
        {
          stdoutToStderr();
          storage.writeAsPGM("/dev/full");
        },
        testing::ExitedWithCode(1), literally("failure in closing file /dev/full") + "$");
  }
}

}  // namespace
