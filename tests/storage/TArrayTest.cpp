// Checked 2-D array: allocation rules, bounds and the exact fatal messages.
#include "color/ColorElements.h"
#include "storage/T_Array.h"
#include "support/TestSupport.h"

namespace {

const char* const kGetUnallocated = "T_Array::getPtr2Element( short int x, short int y ), Array has NOT been allocated!";
const char* const kGetOutside = "T_Array::getPtr2Element( short int x, short int y ), Wrong pixel coordinates!";
const char* const kReadOutside = "T_Array::getCPtr2Element( short int x, short int y ) const, Wrong pixel coordinates!";
const char* const kWriteOutside = "T_Array::writeElement( short int x, short int y, const T& element ), Wrong pixel coordinates!";
const char* const kAlreadyAllocated = "T_array::allocateArray( short int width, short int heigth ), Array already allocated!";

class TArrayTest : public testing::Test {
 protected:
  T_Array<int> array;
};

TEST_F(TArrayTest, FreshArrayReportsItIsUnallocatedWhateverTheCoordinates) {
  EXPECT_FALSE(array.isAllocated());
  EXPECT_FATAL(array.getPtr2Element(0, 0), kGetUnallocated);
  EXPECT_FATAL(array.getCPtr2Element(-5, 900),
               "T_Array::getCPtr2Element( short int x, short int y ) const, Array has NOT been allocated!");
  EXPECT_FATAL(array.writeElement(1, 1, 7),
               "T_Array::writeElement( short int x, short int y, const T& element ), Array has NOT been allocated yet!");
  EXPECT_FATAL(array.getPtr2Array(), "T_Array::getPtr2Array( void ), Array has NOT been allocated!");
  array.deallocateArray();  // nothing to free: no effect
  EXPECT_FALSE(array.isAllocated());
}

TEST_F(TArrayTest, EmptyGridIsAllocatedButHasNoValidPixel) {
  EXPECT_NE(array.allocateArray(0, 0), nullptr);
  EXPECT_TRUE(array.isAllocated());
  EXPECT_FATAL(array.getPtr2Element(0, 0), kGetOutside);
  EXPECT_FATAL(array.allocateArray(0, 0), kAlreadyAllocated);
}

TEST_F(TArrayTest, BoundsOfFourByThreeAreCheckedOnEverySide) {
  int** table = array.allocateArray(4, 3);
  array.writeElement(3, 2, 42);
  EXPECT_EQ(*array.getCPtr2Element(3, 2), 42);
  EXPECT_EQ(table[3][2], 42);  // indexed [x][y]
  *array.getPtr2Element(1, 2) = 5;
  EXPECT_EQ(table[1][2], 5);
  for (const auto& [x, y] : {std::pair(4, 0), std::pair(0, 3), std::pair(-1, 0), std::pair(0, -1)}) {
    EXPECT_FATAL(array.getPtr2Element(x, y), kGetOutside);
    EXPECT_FATAL(array.getCPtr2Element(x, y), kReadOutside);
    EXPECT_FATAL(array.writeElement(x, y, 1), kWriteOutside);
  }
}

TEST_F(TArrayTest, ReallocationNeedsARelease) {
  EXPECT_FATAL(array.allocateArray(-1, 3),
               "T_Array::allocateArray( short int width, short int heigth ) -> Allocation error! (wrong array dimensions)");
  array.allocateArray(4, 3);
  EXPECT_FATAL(array.allocateArray(4, 3), kAlreadyAllocated);
  array.deallocateArray();
  EXPECT_FALSE(array.isAllocated());
  array.allocateArray(2, 7);
  array.writeElement(1, 6, 9);
  EXPECT_EQ(*array.getCPtr2Element(1, 6), 9);
  EXPECT_FATAL(array.getPtr2Element(2, 0), kGetOutside);
}

TEST(TArrayElementsTest, ColourElementsStartAtZero) {
  T_Array<E_Hsv> hsv;
  hsv.allocateArray(3, 2);
  const E_Hsv* pixel = hsv.getCPtr2Element(2, 1);
  EXPECT_EQ(pixel->h, 0);
  EXPECT_EQ(pixel->s, 0);
  EXPECT_EQ(pixel->v, 0);
}

// The refused call once stored its sizes first, so at exit the array freed
// columns it never had.
TEST(TArrayElementsTest, RefusedReallocationKeepsTheSizesTheColumnsWereMadeWith) {
  static T_Array<int> kept;
  EXPECT_FATAL(
      {
        kept.allocateArray(2, 2);
        kept.allocateArray(300, 300);
      },
      kAlreadyAllocated);
}

}  // namespace
