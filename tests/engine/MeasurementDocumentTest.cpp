// The measurement document: the traces it holds, refused past the limit
// with the message the callers show.
#include "engine/MeasurementDocument.h"

#include <gtest/gtest.h>

namespace audimera {

namespace {

TEST(MeasurementDocumentTest, ANinthTraceIsRefusedWithTheMessage)
{
    MeasurementDocument document;
    for (int t = 0; t < TraceStore::MaxTraces; ++t)
        ASSERT_TRUE(document.openTrace().ok()) << t;
    const audimera::Status refused = document.openTrace();
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.message(), "You can't trace more than 8 curves, click on 'Clear' to erase current curves.");
    EXPECT_FALSE(refused.error().fatal);
    EXPECT_EQ(document.traces().GetTraceCount(), 8);
    document.traces().ClearAllTraces();
    EXPECT_TRUE(document.openTrace().ok());
}

} // namespace

} // namespace audimera
