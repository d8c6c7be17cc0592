#include "foundation/LinkedList.h"
#include "foundation/String.h"

#include "support/CaptureStdout.h"

#include <gtest/gtest.h>

namespace {

// Counts how many of its kind are alive.
class Counted : public MAIL::Object {
public:
    explicit Counted(int& alive) : alive_(alive) { ++alive_; }
    ~Counted() override { --alive_; }

private:
    int& alive_;
};

class Dumping : public MAIL::Object {
public:
    explicit Dumping(const char* name) : name_(name) {}
    void dump() override { MAIL::diagnostic("%s\n", name_); }

private:
    const char* name_;
};

} // namespace

TEST(LinkedList, AddsInOrderIgnoresNullAndFreesOnClear)
{
    int alive = 0;
    MAIL::LinkedList list;
    list.add(new Counted(alive));
    list.addLast(nullptr);
    list.addLast(new Counted(alive));
    EXPECT_EQ(list.getLength(), 2);
    EXPECT_EQ(alive, 2);
    list.clear();
    EXPECT_EQ(list.getLength(), 0);
    EXPECT_EQ(list.getHead(), nullptr);
    EXPECT_EQ(alive, 0);
    list.clear();
    list.add(new Counted(alive));
    EXPECT_EQ(list.getLength(), 1);
}

TEST(LinkedList, DestructorFreesNodesAndElements)
{
    int alive = 0;
    {
        MAIL::LinkedList list;
        for (int i = 0; i < 10; ++i)
            list.add(new Counted(alive));
    }
    EXPECT_EQ(alive, 0);
}

TEST(LinkedList, DeletingANodeDeletesItsTail)
{
    int alive = 0;
    auto* third = new MAIL::Iterator(new Counted(alive), nullptr);
    auto* second = new MAIL::Iterator(new Counted(alive), third);
    auto* first = new MAIL::Iterator(new Counted(alive), second);
    EXPECT_EQ(first->getNext(), second);
    delete first;
    EXPECT_EQ(alive, 0);
}

TEST(LinkedList, AMillionNodesAreFreedWithoutRecursion)
{
    MAIL::LinkedList list;
    for (int i = 0; i < 1000000; ++i)
        list.add(new MAIL::String("x"));
    EXPECT_EQ(list.getLength(), 1000000);
    // Destruction follows; a recursive chain free would overflow the stack.
}

TEST(LinkedList, DumpsElementsHeadToTail)
{
    pelorus::test::DiagnosticsCapture out;
    MAIL::LinkedList list;
    list.add(new Dumping("first"));
    list.add(new Dumping("second"));
    list.dump();
    EXPECT_EQ(out.take(), "first\nsecond\n");
}
