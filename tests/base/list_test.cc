#include "base/list.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

void* P(long v) {
    return reinterpret_cast<void*>(v);
}

std::vector<long> contents(const Base::List& l) {
    std::vector<long> out;
    Base::List::Iterator it(&l);
    while (void* d = it.next()) out.push_back(reinterpret_cast<long>(d));
    // The backward links must agree with the forward ones.
    std::vector<long> back;
    for (Base::List::Node* n = l.get_last(); n; n = n->prev)
        back.insert(back.begin(), reinterpret_cast<long>(n->data));
    EXPECT_EQ(out, back);
    EXPECT_EQ(static_cast<int>(out.size()), l.get_count());
    return out;
}

TEST(List, InsertsAroundGivenNodes) {
    Base::List l(true, 2);
    Base::List::Node* two = l.push_back(P(2));
    l.push_front(P(1));
    Base::List::Node* four = l.push_back(P(4));
    l.push_back(P(3), two);       // behind 2
    l.push_front(P(5), nullptr);  // front
    l.push_front(P(6), four);     // in front of 4
    l.push_back(P(7), four);      // behind the last
    EXPECT_EQ(contents(l), (std::vector<long>{5, 1, 2, 3, 6, 4, 7}));
    EXPECT_EQ(l.get_last()->data, P(7));
}

TEST(List, RemoveAndPopFromEitherEnd) {
    Base::List l(false, 0);
    EXPECT_EQ(l.pop_back(), nullptr);
    EXPECT_EQ(l.pop_front(), nullptr);
    l.push_back(P(1));
    Base::List::Node* mid = l.push_back(P(2));
    l.push_back(P(3));
    EXPECT_EQ(l.remove(mid), P(2));
    EXPECT_EQ(contents(l), (std::vector<long>{1, 3}));
    EXPECT_EQ(l.pop_back(), P(3));
    EXPECT_EQ(l.pop_front(), P(1));
    EXPECT_EQ(l.get_count(), 0);
    EXPECT_EQ(l.get_first(), nullptr);
    EXPECT_EQ(l.get_last(), nullptr);
}

TEST(List, TruncateKeepsUpToTheGivenNode) {
    Base::List l(true, 0);
    l.push_back(P(1));
    Base::List::Node* two = l.push_back(P(2));
    l.push_back(P(3));
    l.push_back(P(4));
    l.truncate(two);
    EXPECT_EQ(contents(l), (std::vector<long>{1, 2}));
    l.truncate(nullptr);
    EXPECT_EQ(l.get_count(), 0);
}

TEST(List, PooledNodesAreReused) {
    Base::List l(true, 0);
    Base::List::Node* a = l.push_back(P(1));
    l.remove(a);
    EXPECT_EQ(l.push_back(P(2)), a);
    l.clear();
    EXPECT_EQ(l.push_front(P(3)), a);
}

}  // namespace
