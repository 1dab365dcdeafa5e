#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KIT/assocarray.h"
#include "KIT/kitstring.h"
#include "KIT/ptrlist.h"
#include "KIT/queue.h"

namespace {

struct Tracked {
  static int alive;
  Tracked() { ++alive; }
  ~Tracked() { --alive; }
};
int Tracked::alive = 0;

TEST(PtrList, AddInsertFindDeleteKeepOrder) {
  int v[5];
  KIT_PtrList<int> l;
  EXPECT_EQ(l.Get(0), nullptr);
  l.Add(&v[0]);
  l.Add(&v[2]);
  l.Insert(1, &v[1]);
  l.Insert(99, &v[3]);  // clamped to the end
  l.Insert(-4, &v[4]);  // clamped to the front
  ASSERT_EQ(l.GetSize(), 5);
  const int* order[] = {&v[4], &v[0], &v[1], &v[2], &v[3]};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(l.Get(i), order[i]) << i;
  EXPECT_EQ(l.Get(5), nullptr);
  EXPECT_EQ(l.Get(-1), nullptr);
  EXPECT_EQ(l.Find(&v[2]), 3);
  EXPECT_TRUE(l.DeletePtr(&v[2]));
  EXPECT_FALSE(l.DeletePtr(&v[2]));
  EXPECT_EQ(l.Find(&v[2]), -1);
  l.Move(0, 3);
  EXPECT_EQ(l.Get(3), &v[4]);
  EXPECT_EQ(l.Get(0), &v[0]);
  EXPECT_EQ(l.GetLast(), &v[4]);
  // The storage is the heap buffer: size in bytes is the count times the pointer size.
  EXPECT_EQ(l.Buffer().GetSize(), 4 * static_cast<int>(sizeof(int*)));
  EXPECT_EQ(l.Buffer().GetGranularity(), 4096);
}

TEST(PtrList, DeletesOwnedEntriesOnlyWhenAsked) {
  {
    KIT_PtrList<Tracked> l;
    for (int i = 0; i < 3; ++i) l.Add(new Tracked);
    l.Add(nullptr);  // an entry may be null
    l.Delete(0, true);
    EXPECT_EQ(Tracked::alive, 2);
    Tracked* kept = l.Get(0);
    l.Delete(0, false);
    EXPECT_EQ(Tracked::alive, 2);
    delete kept;
    l.Empty(true);
    EXPECT_EQ(Tracked::alive, 0);
    EXPECT_EQ(l.GetSize(), 0);
  }
  static int freed = 0;
  KIT_PtrList<char> s;
  s.Add(strdup("a"));
  s.Add(strdup("b"));
  s.Empty(true, [](void* p) {
    ++freed;
    free(p);
  });
  EXPECT_EQ(freed, 2);
}

TEST(KitString, EditsKeepTerminatorAndLength) {
  KIT_String s;
  EXPECT_STREQ(s.Get(), "");
  EXPECT_EQ(s.GetLength(), 0);
  s.Set("Vexmir");
  s.Append(" Editor");
  EXPECT_STREQ(s.Get(), "Vexmir Editor");
  s.Insert("Korg ", 0);
  EXPECT_STREQ(s.Get(), "Korg Vexmir Editor");
  s.DeleteSub(4, 7);
  EXPECT_STREQ(s.Get(), "Korg Editor");
  s.SetLen(4);
  EXPECT_STREQ(s.Get(), "Korg");
  EXPECT_EQ(s.GetLength(), 4);
  s.Set("abcdef", 3);
  EXPECT_STREQ(s.Get(), "abc");
  s.Append("xyz", 2);
  EXPECT_STREQ(s.Get(), "abcxy");
  EXPECT_TRUE(s == "abcxy");
  s.DeleteSub(3, 100);
  EXPECT_STREQ(s.Get(), "abc");
  // A maxlen longer than the text reads no further than its terminator.
  char shortText[2] = {'q', 0};
  s.Set(shortText, 1000);
  EXPECT_STREQ(s.Get(), "q");
}

TEST(KitString, FormattedAssignmentTruncatesAtMaxlen) {
  KIT_String s;
  s.SetFormatted(5, "%d-%s", 1234, "xyz");
  EXPECT_STREQ(s.Get(), "1234-");
  EXPECT_EQ(s.GetLength(), 5);
  s.SetFormatted(100, "%s|%s", s.Get(), s.Get());  // the arguments may be the string itself
  EXPECT_STREQ(s.Get(), "1234-|1234-");
  s.AppendFormatted(3, "%d", 98765);
  EXPECT_STREQ(s.Get(), "1234-|1234-987");
  KIT_String copy(s);
  s.Set("changed");
  EXPECT_STREQ(copy.Get(), "1234-|1234-987");
  s.Set(s.Get() + 2);  // text inside the string itself
  EXPECT_STREQ(s.Get(), "anged");
}

TEST(StringKeyedArray, SortedBinarySearchWithOwnedKeys) {
  static std::vector<int> disposed;
  disposed.clear();
  KIT_StringKeyedArray<int> a(true, [](int v) { disposed.push_back(v); });
  char key[8] = "delta";
  a.Insert(key, 4);
  key[0] = 'X';  // the array keeps its own copy
  a.Insert("alpha", 1);
  a.Insert("charlie", 3);
  a.Insert("Bravo", 2);
  ASSERT_EQ(a.GetSize(), 4);
  const char* k = nullptr;
  const char* expected[] = {"Bravo", "alpha", "charlie", "delta"};  // byte order: upper case first
  for (int i = 0; i < 4; ++i) {
    a.Enumerate(i, &k);
    EXPECT_STREQ(k, expected[i]);
  }
  EXPECT_EQ(a.Get("delta"), 4);
  EXPECT_EQ(a.Get("bravo", -1), -1);
  a.Insert("alpha", 10);  // replacing disposes of the old value
  EXPECT_EQ(disposed, std::vector<int>{1});
  EXPECT_EQ(a.Get("alpha"), 10);
  EXPECT_TRUE(a.Delete("charlie"));
  EXPECT_FALSE(a.Delete("charlie"));
  a.DeleteAll();
  EXPECT_EQ(disposed, (std::vector<int>{1, 3, 2, 10, 4}));
}

TEST(StringKeyedArray, CaseInsensitiveVariant) {
  KIT_StringKeyedArray<const char*> a(false);
  a.Insert("General", "g");
  a.Insert("ALPHA", "a");
  a.Insert("alpha", "a2");  // same key without case: replaces
  EXPECT_EQ(a.GetSize(), 2);
  EXPECT_STREQ(a.Get("GENERAL"), "g");
  EXPECT_STREQ(a.Get("Alpha"), "a2");
  const char* k;
  a.Enumerate(0, &k);
  EXPECT_STREQ(k, "ALPHA");  // the first spelling stays the key
  EXPECT_EQ(a.Get(nullptr), nullptr);
}

TEST(StringKeyedArray, ManyKeysStayFindable) {
  KIT_StringKeyedArray<int> a;
  for (int i = 0; i < 2000; ++i) a.Insert(std::to_string((i * 7919) % 2000).c_str(), (i * 7919) % 2000);
  ASSERT_EQ(a.GetSize(), 2000);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(a.Get(std::to_string(i).c_str(), -1), i);
  for (int i = 1; i < a.GetSize(); ++i) {
    const char *p, *q;
    a.Enumerate(i - 1, &p);
    a.Enumerate(i, &q);
    ASSERT_LT(strcmp(p, q), 0);
  }
}

TEST(Queue, FifoWithCompaction) {
  KIT_Queue q;
  q.Add("hello", 5);
  q.Add(" world", 6);
  char out[16] = {};
  EXPECT_EQ(q.Read(out, 5), 5);
  EXPECT_STREQ(out, "hello");
  EXPECT_EQ(q.Available(), 6);
  q.Compact();
  EXPECT_EQ(std::string(static_cast<char*>(q.Get()), q.Available()), " world");
  EXPECT_EQ(q.Advance(100), 6);
  EXPECT_EQ(q.Get(), nullptr);

  struct Msg {
    int offset;
    unsigned char status, d1, d2;
  };
  KIT_TypedQueue<Msg> m;
  for (int i = 0; i < 3000; ++i) m.Add({i, 0x90, 60, 100});
  Msg x{};
  for (int i = 0; i < 2000; ++i) {
    ASSERT_TRUE(m.Pop(&x));
    ASSERT_EQ(x.offset, i);
  }
  m.Compact();
  EXPECT_EQ(m.Available(), 1000);
  EXPECT_EQ(m.Get()[0].offset, 2000);
  m.Clear();
  EXPECT_FALSE(m.Pop(&x));
}

}  // namespace
