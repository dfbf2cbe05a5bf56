// The bridge's pure parts: the subject token of instrument ids, the commit
// point, which may pass a packet only once every update of it and of the
// packets before is acknowledged, and the callbacks of a resumed topic.
#include <gtest/gtest.h>

#include "tests/test_table.h"
#include "tools/bridge/bridge_spi.h"
#include "tools/bridge/packet_ledger.h"
#include "tools/bridge/subject.h"

namespace {

TEST(BridgeSubject, MapsInstrumentIdsToOneSafeToken) {
    const char* table = "tools/bridge/subject.data";
    for (const TestTable::Row& row : TestTable::read(table)) {
        SCOPED_TRACE(TestTable::where(table, row));
        std::string id = row[0] == "hex" ? TestTable::bytes(row[1]) : row[1];
        char field[31] = {0};
        ASSERT_LT(id.size(), sizeof field);
        id.copy(field, id.size());
        EXPECT_EQ(Bridge::Subject::map_instrument(field, sizeof field), row[2]);
    }
    // A full field without its terminator stops at the field's end.
    char full[4] = {'a', '.', 'b', 'c'};
    std::string subject = "reused", id = "reused";
    Bridge::Subject::data(subject, "p.q", 7, full, sizeof full);
    EXPECT_EQ(subject, "p.q.7.a%2Ebc");
    EXPECT_EQ(Bridge::Subject::commit("p.q", 7), "p.q.commit.7");
    Bridge::Subject::data_id(id, 7, 12, 3);
    EXPECT_EQ(id, "7:12:3");
    EXPECT_EQ(Bridge::Subject::commit_id(7, 12), "7:12:commit");
}

TEST(BridgeLedger, CommitsOnlyCompletePacketsInOrder) {
    Bridge::PacketLedger ledger;
    EXPECT_EQ(ledger.commit(5), Bridge::PacketLedger::UNKNOWN);
    // Packet 10 (two updates), 11 (none), 12 (one); acks out of order.
    ledger.published(5, 10, 0);
    ledger.published(5, 10, 1);
    EXPECT_EQ(ledger.commit(5), 9);  // the first packet seen sets the base
    EXPECT_EQ(ledger.points()[5].resume_from(), 10);
    ledger.ended(5, 10, 2);
    ledger.ended(5, 11, 0);
    ledger.published(5, 12, 0);
    ledger.acked(5, 12, 0);
    ledger.acked(5, 10, 1);
    ledger.acked(5, 10, 1);  // a duplicate's acknowledgement counts once
    EXPECT_EQ(ledger.commit(5), 9);
    ledger.acked(5, 10, 0);
    EXPECT_EQ(ledger.commit(5), 11);  // 12 has no end yet
    ledger.ended(5, 12, 1);
    EXPECT_EQ(ledger.commit(5), 12);
    EXPECT_EQ(ledger.open_packets(), 0u);
    // Repeats at or below the commit point change nothing.
    ledger.published(5, 11, 0);
    ledger.ended(5, 12, 3);
    EXPECT_EQ(ledger.commit(5), 12);
    EXPECT_EQ(ledger.open_packets(), 0u);
}

TEST(BridgeLedger, APacketCutOffBlocksUntilItComesAgain) {
    Bridge::PacketLedger ledger;
    ledger.set_commit(1, 40, 3);
    EXPECT_EQ(ledger.points()[1].resume_from(), 3);  // replayed from the first packet
    ledger.published(1, 41, 0);
    ledger.acked(1, 41, 0);  // its end never came: the session was left
    ledger.published(1, 42, 0);
    ledger.ended(1, 42, 1);
    ledger.acked(1, 42, 0);
    EXPECT_EQ(ledger.commit(1), 40);
    // The front sends 41 again, whole this time.
    ledger.published(1, 41, 0);
    ledger.published(1, 41, 1);
    ledger.ended(1, 41, 2);
    ledger.acked(1, 41, 1);
    EXPECT_EQ(ledger.commit(1), 42);
    EXPECT_EQ(ledger.commits(), (std::map<int, long>{{1, 42}}));
    // Without a known first packet, or without a commit point.
    ledger.set_commit(2, 40, Bridge::PacketLedger::UNKNOWN);
    ledger.set_base(3, 7);
    ledger.set_base(3, 90);  // a topic's base is set once
    EXPECT_EQ(ledger.points()[2].resume_from(), 41);
    EXPECT_EQ(ledger.points()[3].resume_from(), 8);
    EXPECT_EQ(ledger.points()[4].resume_from(), Bridge::PacketLedger::UNKNOWN);
}

// A topic resumed with first packet 3 and commit point 5, the front
// starting at `from`: packets up to 5 only rebuild the library's records;
// a front that lost packets 3 and 4 is borne, one that lost 6 or sends
// packets from before 3 is not.
TEST(BridgeSpi, AResumedTopicQueuesOnlyAfterItsCommitPoint) {
    const struct {
        long from;
        bool fails;
    } rows[] = {{3, false}, {5, false}, {6, false}, {7, true}, {2, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.from);
        Bridge::Options options;
        options.topics = {{100, false}};
        Bridge::UpdateQueue queue(100);
        Bridge::Metrics metrics({100});
        Bridge::BridgeSpi spi(options, queue, metrics);
        Bridge::PacketLedger::Point point;
        point.first = 3;
        point.commit = 5;
        spi.begin_session(nullptr, {{100, point}});
        CTarnXeloDepthMarketDataField depth = {};
        for (long seq = row.from; seq <= 8; ++seq) {
            spi.OnPackageStart(100, static_cast<int>(seq));
            spi.OnRtnDepthMarketData(&depth);
            spi.OnPackageEnd(100, static_cast<int>(seq));
        }
        EXPECT_EQ(spi.failed(), row.fails);
        std::string queued;
        for (Bridge::Update u; queue.pop(u, 0);)
            queued += std::to_string(u.seq) + (u.kind == Bridge::Update::DATA ? "d " : "e ");
        if (!row.fails) {
            EXPECT_EQ(queued, "6d 6e 7d 7e 8d 8e ");
        }
    }
}

// A packet reaches the queue whole, with its end, or not at all: a stop
// that cuts its callbacks short leaves nothing of it.
TEST(BridgeSpi, QueuesAPacketOnlyOnceItsEndIsSeen) {
    Bridge::Options options;
    options.topics = {{100, false}};
    Bridge::UpdateQueue queue(100);
    Bridge::Metrics metrics({100});
    Bridge::BridgeSpi spi(options, queue, metrics);
    spi.begin_session(nullptr, {});
    CTarnXeloDepthMarketDataField depth = {};
    spi.OnPackageStart(100, 1);
    spi.OnRtnDepthMarketData(&depth);
    spi.OnRtnDepthMarketData(&depth);
    EXPECT_EQ(queue.size(), 0u);
    spi.OnPackageEnd(100, 1);
    spi.OnPackageStart(100, 2);
    spi.OnRtnDepthMarketData(&depth);  // cut here: no end
    spi.begin_session(nullptr, {});
    spi.OnPackageStart(100, 2);
    spi.OnPackageEnd(100, 2);
    std::string queued;
    for (Bridge::Update u; queue.pop(u, 0);)
        queued += std::to_string(u.seq) + (u.kind == Bridge::Update::DATA ? "d " : "e ");
    EXPECT_EQ(queued, "1d 1d 1e 2e ");
}

// The ring keeps order across wrap-arounds and growth, refuses past its
// capacity, and works again after it shrinks.
TEST(UpdateQueue, OrderAcrossWrapAndGrowthAndTheBound) {
    Bridge::UpdateQueue queue(10000);
    long pushed = 0, popped = 0;
    Bridge::Update u;
    for (int round = 0; round < 3; ++round) {
        // Take out part of what went in, so the next pushes wrap and grow.
        for (int i = 0; i < 2000 + 1000 * round; ++i) {
            u.seq = pushed++;
            ASSERT_TRUE(queue.push(u));
        }
        for (int i = 0; i < 1500; ++i) {
            ASSERT_TRUE(queue.pop(u, 0));
            ASSERT_EQ(u.seq, popped++);
        }
    }
    for (u.seq = pushed; queue.push(u); u.seq = pushed) ++pushed;  // up to the bound
    EXPECT_EQ(queue.size(), 10000u);
    for (; queue.pop(u, 0); ++popped) ASSERT_EQ(u.seq, popped);
    EXPECT_EQ(popped, pushed);
    u.seq = 7;
    ASSERT_TRUE(queue.push(u));
    ASSERT_TRUE(queue.pop(u, 0));
    EXPECT_EQ(u.seq, 7);
}

}  // namespace
