// A heap file lacking the nested heap that would hold a record: the query
// reports the record absent, whatever the walk left in its entry.
#include <gtest/gtest.h>

#include "qdparse.h"
#include "support/container_builder.h"
#include "support/heap_builder.h"
#include "support/test_stream.h"

namespace {
using namespace qdtest;

TEST(SingleProperty, RecordBehindAnAbsentNestedHeapIsNotApplicable) {
  for (bool be : {false, true}) {
    HeapBuilder owner(be), properties(be), root(be);
    owner.Data(0x0810, {'o', 0});  // no firmware heap inside, and no capture or maker heap beside
    properties.Data(0x1817, U32s({42}, be));
    properties.Nested(0x2807, owner);
    root.Nested(kTypeImageProperties, properties);
    const Bytes file = HeapFileBuilder(root).Build();
    for (uint32_t id : {0x00101813u, 0x0040180Bu, 0x00501029u}) {  // in each of the missing heaps
      SCOPED_TRACE(::testing::Message() << std::hex << id << (be ? " MM" : " II"));
      TestStream in(file), out;
      EXPECT_EQ(QDParseGetSingleProperty(in.stream(), nullptr, id, out.stream()), QD_E_NOT_APPLICABLE);
      EXPECT_TRUE(out.data().empty());
    }
  }
}

}  // namespace
