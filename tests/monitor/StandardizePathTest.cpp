#include <gtest/gtest.h>

#include "monitor/StandardizePath.h"

using tovak::monitor::standardizePath;

TEST(StandardizePath, RemovesRedundantPartsAndExpandsALeadingTilde) {
    const std::string home = "/home/anna";
    EXPECT_EQ(standardizePath("/a//b/./c/", home), "/a/b/c");
    EXPECT_EQ(standardizePath("/a/b/../c", home), "/a/c");
    EXPECT_EQ(standardizePath("/../a", home), "/a");
    EXPECT_EQ(standardizePath("~/x.csv", home), "/home/anna/x.csv");
    EXPECT_EQ(standardizePath("~", home), "/home/anna");
    EXPECT_EQ(standardizePath("/a/~/b", home), "/a/~/b");
    EXPECT_EQ(standardizePath("~other/x", home), "~other/x");
    EXPECT_EQ(standardizePath("a/../../b", home), "../b");
    EXPECT_EQ(standardizePath("/", home), "/");
    EXPECT_EQ(standardizePath("/d/Отчёт \"Q1\".csv", home), "/d/Отчёт \"Q1\".csv");
}
