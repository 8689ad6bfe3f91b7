#include "core/disk_mesh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "tests/core/matrix_test_support.h"

namespace {

class SystemMesh : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CapturedStdout capture;
        mesh_ = new DiskMesh(generate_disk_mesh(6, 10));
        trace_ = new std::string(capture.text.str());
    }
    static void TearDownTestSuite() {
        delete mesh_;
        delete trace_;
    }
    static const DiskMesh& mesh() { return *mesh_; }
    static DiskMesh* mesh_;
    static std::string* trace_;
};
DiskMesh* SystemMesh::mesh_ = nullptr;
std::string* SystemMesh::trace_ = nullptr;

int ringStart(int r) { return r == 0 ? 0 : 1 + 3 * r * (r - 1); }

}  // namespace

TEST_F(SystemMesh, WritesOneTraceLineHoldingTheCentreIndex) {
    EXPECT_EQ(*trace_, "0\n");
}

TEST_F(SystemMesh, NumbersRingsOutwardWithTheRimLast) {
    ASSERT_EQ(mesh().points.size(), 331u);
    ASSERT_EQ(mesh().boundary.size(), 331u);
    ASSERT_EQ(mesh().neighbours.size(), 331u);
    for (int i = 0; i < 331; ++i)
        EXPECT_EQ(mesh().boundary[i], i >= 271 ? 1 : 0) << "point " << i;

    // Every point of ring r lies at radius r/10, positions counter-clockwise
    // from the positive x axis.
    for (int r = 1; r <= 10; ++r) {
        for (int p = 0; p < 6 * r; ++p) {
            const auto [x, y] = mesh().points[ringStart(r) + p];
            EXPECT_NEAR(std::hypot(x, y), r / 10.0, 1e-12) << "ring " << r << " position " << p;
            const double expected = 2 * 3.14159265358979 * p / (6 * r);
            const double angle = std::atan2(y, x);
            EXPECT_NEAR(angle < -1e-9 ? angle + 2 * 3.14159265358979 : angle, expected, 1e-9);
        }
    }
}

TEST_F(SystemMesh, PlacesTheListedPoints) {
    EXPECT_EQ(mesh().points[0], PlanarPoint(0.0, 0.0));
    EXPECT_DOUBLE_EQ(mesh().points[1].first, 0.1);
    EXPECT_EQ(mesh().points[1].second, 0.0);
    EXPECT_DOUBLE_EQ(mesh().points[7].first, 0.2);
    EXPECT_EQ(mesh().points[7].second, 0.0);
    EXPECT_NEAR(mesh().points[2].first, 0.05, 1e-14);
    EXPECT_NEAR(mesh().points[2].second, 0.0866025403784, 1e-12);
    EXPECT_DOUBLE_EQ(mesh().points[271].first, 1.0);
}

TEST_F(SystemMesh, NeighbourRelationIsSymmetricAndFreeOfRepeats) {
    std::size_t total = 0;
    for (int i = 0; i < 331; ++i) {
        const auto& list = mesh().neighbours[i];
        total += list.size();
        std::vector<int> sorted(list.begin(), list.end());
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "repeat at " << i;
        for (int j : list) {
            ASSERT_GE(j, 0);
            ASSERT_LT(j, 331);
            EXPECT_NE(j, i);
            const auto& back = mesh().neighbours[j];
            EXPECT_NE(std::find(back.begin(), back.end(), i), back.end()) << i << " -> " << j;
        }
    }
    EXPECT_EQ(total, 1860u);
}

TEST_F(SystemMesh, InteriorPointsHaveSixNeighboursRimCornersThree) {
    for (int i = 0; i < 271; ++i)
        EXPECT_EQ(mesh().neighbours[i].size(), 6u) << "point " << i;
    for (int p = 0; p < 60; ++p)
        EXPECT_EQ(mesh().neighbours[271 + p].size(), p % 10 == 0 ? 3u : 4u) << "rim position " << p;
}

TEST_F(SystemMesh, ClosesEveryRing) {
    for (int r = 1; r <= 10; ++r) {
        const int first = ringStart(r), last = ringStart(r) + 6 * r - 1;
        const auto& list = mesh().neighbours[last];
        EXPECT_NE(std::find(list.begin(), list.end(), first), list.end()) << "ring " << r;
    }
}

TEST_F(SystemMesh, KeepsTheListedListOrders) {
    EXPECT_EQ(mesh().neighbours[0], (std::vector<std::int32_t>{6, 1, 2, 3, 4, 5}));
    EXPECT_EQ(mesh().neighbours[1], (std::vector<std::int32_t>{0, 18, 2, 7, 8, 6}));
    EXPECT_EQ(mesh().neighbours[2], (std::vector<std::int32_t>{0, 1, 8, 3, 9, 10}));
    EXPECT_EQ(mesh().neighbours[271], (std::vector<std::int32_t>{217, 272, 330}));
}

TEST(DiskMeshGeneration, SmallMeshFollowsTheSameNumbering) {
    CapturedStdout capture;
    const DiskMesh mesh = generate_disk_mesh(6, 2);
    EXPECT_EQ(capture.text.str(), "0\n");
    ASSERT_EQ(mesh.points.size(), 19u);
    EXPECT_EQ(std::count(mesh.boundary.begin(), mesh.boundary.end(), 1), 12);
    EXPECT_EQ(mesh.neighbours[1], (std::vector<std::int32_t>{0, 18, 2, 7, 8, 6}));
    EXPECT_DOUBLE_EQ(mesh.points[1].first, 0.5);
}
