#include <gtest/gtest.h>
TEST(ProtocolSequence, Placeholder) {}
