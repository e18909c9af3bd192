#include "support/oblist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using POSITION = CVRObList::POSITION;
using Elements = std::vector<void*>;

class CVRObListTest : public testing::Test {
 protected:
  // The elements are only addresses; the list never looks behind them.
  int objects[7] = {};
  void* a = &objects[0];
  void* b = &objects[1];
  void* c = &objects[2];
  void* d = &objects[3];
  void* e = &objects[4];
  void* x = &objects[5];
  void* y = &objects[6];

  static void Fill(CVRObList& list, const Elements& elements) {
    for (void* element : elements) ASSERT_NE(list.AddTail(element), nullptr);
  }

  // The elements from head to tail, checking that the backward links, the count and IsEmpty
  // tell the same story.
  static Elements Walk(const CVRObList& list) {
    Elements forward;
    Elements backward;
    for (POSITION p = list.GetHeadPosition(); p;) forward.push_back(list.GetNext(p));
    for (POSITION p = list.GetTailPosition(); p;) backward.push_back(list.GetPrev(p));
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(forward, backward) << "next and prev links disagree";
    EXPECT_EQ(list.GetCount(), int32_t(forward.size()));
    EXPECT_EQ(list.IsEmpty(), forward.empty() ? 1 : 0);
    EXPECT_EQ(list.GetHead(), forward.empty() ? nullptr : forward.front());
    EXPECT_EQ(list.GetTail(), forward.empty() ? nullptr : forward.back());
    return forward;
  }
};

TEST_F(CVRObListTest, EmptyListAnswersNullAndIgnoresRemovals) {
  CVRObList list;
  EXPECT_EQ(list.IsEmpty(), 1);
  EXPECT_EQ(list.GetHeadPosition(), nullptr);
  EXPECT_EQ(list.GetTailPosition(), nullptr);
  EXPECT_EQ(list.GetAt(nullptr), nullptr);
  EXPECT_EQ(list.Find(a), nullptr);
  EXPECT_EQ(list.Contains(a), 0);
  EXPECT_EQ(list.FindIndex(0), nullptr);
  EXPECT_EQ(list.RemoveHead(), nullptr);
  EXPECT_EQ(list.RemoveTail(), nullptr);
  list.Remove(a);
  list.RemoveAt(nullptr);
  POSITION none = nullptr;
  EXPECT_EQ(list.GetNext(none), nullptr);
  EXPECT_EQ(list.GetPrev(none), nullptr);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(Walk(list), Elements{});
}

TEST_F(CVRObListTest, AddsAtBothEndsAndAddAppends) {
  CVRObList list;
  POSITION atB = list.AddTail(b);
  POSITION atA = list.AddHead(a);
  POSITION atC = list.Add(c, 99);
  EXPECT_EQ(Walk(list), (Elements{a, b, c}));
  EXPECT_EQ(list.GetAt(atA), a);
  EXPECT_EQ(list.GetAt(atB), b);
  EXPECT_EQ(list.GetAt(atC), c);
  EXPECT_EQ(list.GetHeadPosition(), atA);
  EXPECT_EQ(list.GetTailPosition(), atC);
}

TEST_F(CVRObListTest, GetNextAndGetPrevStepThroughPositionsToNull) {
  CVRObList list;
  Fill(list, {a, b, c});
  POSITION p = list.GetHeadPosition();
  EXPECT_EQ(list.GetNext(p), a);
  EXPECT_EQ(list.GetAt(p), b);
  EXPECT_EQ(list.GetNext(p), b);
  EXPECT_EQ(list.GetNext(p), c);
  EXPECT_EQ(p, nullptr);

  p = list.GetTailPosition();
  EXPECT_EQ(list.GetPrev(p), c);
  EXPECT_EQ(list.GetPrev(p), b);
  EXPECT_EQ(list.GetPrev(p), a);
  EXPECT_EQ(p, nullptr);
}

TEST_F(CVRObListTest, FindIndexReachesEveryIndexAndNothingOutside) {
  const Elements all = {a, b, c, d, e};
  for (size_t size = 1; size <= all.size(); ++size) {
    CVRObList list;
    const Elements elements(all.begin(), all.begin() + size);
    Fill(list, elements);
    for (size_t i = 0; i < size; ++i) {
      EXPECT_EQ(list.GetAt(list.FindIndex(int32_t(i))), elements[i]) << "index " << i << " of " << size;
    }
    EXPECT_EQ(list.FindIndex(int32_t(size)), nullptr) << size;
    EXPECT_EQ(list.FindIndex(-1), nullptr) << size;
  }
}

TEST_F(CVRObListTest, FindAndContainsSeeTheFirstOccurrence) {
  CVRObList list;
  Fill(list, {a, b, a});
  EXPECT_EQ(list.Find(a), list.GetHeadPosition());
  EXPECT_EQ(list.Find(b), list.FindIndex(1));
  EXPECT_EQ(list.Find(x), nullptr);
  EXPECT_EQ(list.Contains(b), 1);
  EXPECT_EQ(list.Contains(x), 0);
}

TEST_F(CVRObListTest, InsertBeforeLinksBeforeTheNodeOrAppendsForNull) {
  CVRObList list;
  Fill(list, {a, b});
  list.InsertBefore(nullptr, x);
  EXPECT_EQ(Walk(list), (Elements{a, b, x}));
  list.InsertBefore(list.GetHeadPosition(), y);
  EXPECT_EQ(Walk(list), (Elements{y, a, b, x}));
  list.InsertBefore(list.Find(b), c);
  EXPECT_EQ(Walk(list), (Elements{y, a, c, b, x}));

  CVRObList empty;
  empty.InsertBefore(nullptr, x);
  EXPECT_EQ(Walk(empty), (Elements{x}));
}

TEST_F(CVRObListTest, InsertListAfterPlacesTheOtherListAfterTheElementOrAtTheTail) {
  struct Case {
    const char* what;
    Elements list;
    Elements other;
    void* after;
    Elements expected;
  };
  const Case cases[] = {
      {"found mid-list", {a, b, c}, {x, y}, b, {a, b, x, y, c}},
      {"found at the head", {a, b, c}, {x, y}, a, {a, x, y, b, c}},
      {"found at the tail", {a, b, c}, {x, y}, c, {a, b, c, x, y}},
      {"first of two occurrences", {a, b, a}, {x}, a, {a, x, b, a}},
      {"not found", {a, b, c}, {x, y}, d, {a, b, c, x, y}},
      {"into an empty list", {}, {x, y}, d, {x, y}},
      {"nothing to insert", {a, b}, {}, a, {a, b}},
  };
  for (const Case& t : cases) {
    CVRObList list;
    CVRObList other;
    Fill(list, t.list);
    Fill(other, t.other);
    EXPECT_EQ(list.InsertListAfter(other, t.after), 1) << t.what;
    EXPECT_EQ(Walk(list), t.expected) << t.what;
    EXPECT_EQ(Walk(other), t.other) << t.what << ": the other list is untouched";
  }
}

TEST_F(CVRObListTest, InsertListAfterItselfInsertsOneCopy) {
  CVRObList list;
  Fill(list, {a, b});
  EXPECT_EQ(list.InsertListAfter(list, a), 1);
  EXPECT_EQ(Walk(list), (Elements{a, a, b, b}));
}

TEST_F(CVRObListTest, RemoveTakesOnlyTheFirstOccurrence) {
  CVRObList list;
  Fill(list, {a, b, a, c});
  list.Remove(a);
  EXPECT_EQ(Walk(list), (Elements{b, a, c}));
  list.Remove(x);
  EXPECT_EQ(Walk(list), (Elements{b, a, c}));
}

TEST_F(CVRObListTest, RemoveAtRelinksTheNeighboursInBothDirections) {
  struct Case {
    int32_t index;
    Elements expected;
  };
  const Case cases[] = {{0, {b, c, d}}, {1, {a, c, d}}, {2, {a, b, d}}, {3, {a, b, c}}};
  for (const Case& t : cases) {
    CVRObList list;
    Fill(list, {a, b, c, d});
    list.RemoveAt(list.FindIndex(t.index));
    EXPECT_EQ(Walk(list), t.expected) << "index " << t.index;
  }

  CVRObList single;
  Fill(single, {a});
  single.RemoveAt(single.GetHeadPosition());
  EXPECT_EQ(Walk(single), Elements{});
  single.AddTail(b);
  EXPECT_EQ(Walk(single), Elements{b});
}

TEST_F(CVRObListTest, RemoveHeadAndRemoveTailReturnTheirElements) {
  CVRObList list;
  Fill(list, {a, b, c});
  EXPECT_EQ(list.RemoveHead(), a);
  EXPECT_EQ(list.RemoveTail(), c);
  EXPECT_EQ(Walk(list), Elements{b});
  EXPECT_EQ(list.RemoveTail(), b);
  EXPECT_EQ(Walk(list), Elements{});
  EXPECT_EQ(list.RemoveHead(), nullptr);
  EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(CVRObListTest, RemoveAllEmptiesTheListForReuse) {
  CVRObList list;
  Fill(list, {a, b, c});
  list.RemoveAll();
  EXPECT_EQ(Walk(list), Elements{});
  Fill(list, {d});
  EXPECT_EQ(Walk(list), Elements{d});
}

TEST_F(CVRObListTest, DuplicateHasNodesOfItsOwn) {
  auto original = std::make_unique<CVRObList>();
  Fill(*original, {a, b, c});
  std::unique_ptr<CVRObList> copy = original->Duplicate();
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Walk(*copy), (Elements{a, b, c}));
  EXPECT_NE(copy->GetHeadPosition(), original->GetHeadPosition());

  copy->RemoveAt(copy->FindIndex(1));
  original->RemoveHead();
  original->AddTail(d);
  EXPECT_EQ(Walk(*original), (Elements{b, c, d}));
  EXPECT_EQ(Walk(*copy), (Elements{a, c}));

  original.reset();
  EXPECT_EQ(Walk(*copy), (Elements{a, c}));
}

}  // namespace
