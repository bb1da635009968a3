#include "variables/RemoteDataRequest.h"
#include "platform/Diagnostics.h"
#include "variables/RequestAnswer.h"
#include "variables/RequestQueues.h"

#include "StoreFixture.h"

#include <gtest/gtest.h>

#include <functional>

using namespace fieldmon;
using fieldmon::test::bytes;
using fieldmon::test::RecordingStore;
using fieldmon::test::reply;

namespace {

// A requester that counts what the request machinery asks of it.
struct FakeRequester : Requester {
    bool requeueFlag = true;
    int queued = 0;
    int submitted = 0;
    std::function<void()> onQueue;
    std::function<void()> onSubmit;

    bool requeue() const override { return requeueFlag; }
    int queueVariableRequests() override
    {
        ++queued;
        if (onQueue)
            onQueue();
        return 0;
    }
    void submitRequests() override
    {
        ++submitted;
        if (onSubmit)
            onSubmit();
    }
};

struct Queues : testing::Test {
    RecordingStore s;
    RequestQueues& q = s.store.requests();

    std::shared_ptr<RemoteData> addressed(const char* type, std::int32_t address, std::int32_t index = 0)
    {
        return s.var(type, index, address);
    }
    std::string store(const std::string& datagram, bool value)
    {
        platform::DiagnosticCapture diagnostics;
        if (value)
            q.handleValueReply(datagram);
        else
            q.handleAddressReply(datagram);
        return diagnostics.take();
    }
};

} // namespace

TEST_F(Queues, AddressRequestsBatchIntoRuns)
{
    // 3, 0, 1, 1, 2: the first request for 1 becomes passive (it takes the
    // same bytes as the other), 1 to 3 join the run that 0 starts.
    struct Case {
        std::vector<int> indexes;
        std::string text;
    };
    struct Addresses : AnswerMemory {
        std::uint32_t addressOfIndex(int index) const override { return 0x100 + 4 * static_cast<std::uint32_t>(index); }
        void read(std::uint64_t, std::uint64_t, std::string&) const override {}
    };
    for (const Case& c : {Case{{3, 0, 1, 1, 2}, "vbA16"}, Case{{0, 2, 3}, "vbA4C8"}}) {
        SCOPED_TRACE(c.text);
        RecordingStore rs;
        RequestQueues& queues = rs.store.requests();
        std::vector<std::shared_ptr<RemoteData>> v;
        for (int index : c.indexes) {
            v.push_back(rs.var("WORD", index));
            queues.queue(v.back()->addressRequest());
        }
        ASSERT_TRUE(queues.submitRequests());
        ASSERT_EQ(rs.sent, std::vector<std::string>{c.text});
        EXPECT_TRUE(queues.addressQueue().empty());
        ASSERT_NE(queues.findSentAddressRequests('b'), nullptr);
        EXPECT_EQ(queues.findSentAddressRequests('b')->size(), c.indexes.size() + 1); // and the requester entry

        std::string note;
        platform::DiagnosticCapture diagnostics;
        queues.handleAddressReply(*answerAddressRequest(rs.sent[0], Addresses{}, note));
        EXPECT_EQ(diagnostics.take(), "");
        for (std::size_t i = 0; i < v.size(); ++i)
            EXPECT_EQ(v[i]->realAddress(), 0x100 + 4 * c.indexes[i]);
        EXPECT_EQ(queues.findSentAddressRequests('b'), nullptr);
    }
}

TEST(RequestQueuesBatching, EveryVariableReadsItsOwnBytes)
{
    // Value requests queued in the given order go out as `text` (when given);
    // a device whose every byte is the low byte of its own address answers,
    // and every variable must then hold the bytes of its own address, valid.
    using Vars = std::vector<std::pair<std::int32_t, const char*>>; // address, type
    Vars twenty, twins;
    for (std::int32_t a = 0; a < 80; a += 4)
        twenty.emplace_back(a, "DWORD");
    const char* sizes[] = {"BYTE", "WORD", "DWORD"};
    for (int i = 0; i < 60; ++i)
        twins.emplace_back(i / 3 * 10, sizes[(i * 7 + i / 3) % 3]);
    struct Case {
        const char* name;
        Vars vars;
        std::string text;
    };
    const Case cases[] = {
        // Gap of 2: one item of 6 bytes (character 71, G).
        {"gap2", {{100, "WORD"}, {104, "WORD"}}, "ab00000064G"},
        {"gap3", {{100, "WORD"}, {105, "WORD"}}, "ab00000064C00000069C"},
        {"adjacent", {{104, "WORD"}, {100, "WORD"}, {102, "WORD"}}, "ab00000064G"},
        {"duplicate", {{100, "DWORD"}, {100, "DWORD"}}, "ab00000064E"},
        {"gapsAndTwins", {{104, "WORD"}, {100, "WORD"}, {120, "WORD"}, {104, "WORD"}, {108, "BYTE"}},
         "ab00000064J00000078C"},
        // A variable inside another joins its item without growing it.
        {"nested", {{100, "DWORD"}, {101, "WORD"}, {105, "BYTE"}}, "ab00000064G"},
        // The last variable of an item lay inside an earlier one: the item's
        // tail bytes belonged to nobody, so the next item was read 2 bytes
        // early (the BYTE at 200 got the byte of 102, marked valid).
        {"innerLast", {{100, "DWORD"}, {101, "BYTE"}, {200, "BYTE"}}, "ab00000064E000000c8B"},
        // Same address, different sizes: the smaller once stayed active and
        // asked for 1 byte, and the passive DWORD copied the next item's
        // bytes as its own. The request that covers the others asks.
        {"twinsLargeFirst", {{100, "DWORD"}, {100, "BYTE"}, {110, "WORD"}}, "ab00000064E0000006eC"},
        {"twinsSmallFirst", {{100, "BYTE"}, {100, "DWORD"}, {110, "WORD"}}, "ab00000064E0000006eC"},
        // Twenty adjacent DWORDs: 18 fill an item of 72 bytes (character
        // 137); the 19th would pass 75 and starts the next item.
        {"cap", twenty, "ab00000000\x89" "00000048I"},
        // Merging once capped an item at 75 bytes while its requests still
        // consumed more, so every later item's bytes landed on the wrong
        // variables. b is 1 byte after a, but an 81-byte item is too long.
        {"past75", {{0, "s40"}, {41, "s40"}, {90, "BYTE"}}, "ab00000000i00000029i0000005aB"},
        // A variable larger than one item: 75 + 75 + 10 bytes (75 is 140).
        {"large", {{0x1000, "s160"}}, "ab00001000\x8c" "0000104b\x8c" "00001096K"},
        // Many twins of three sizes in a list long enough for std::sort to
        // reorder equal addresses as it likes.
        {"manyTwins", twins, ""},
    };

    struct AddressBytes : AnswerMemory {
        std::uint32_t addressOfIndex(int) const override { return 0; }
        void read(std::uint64_t address, std::uint64_t count, std::string& out) const override
        {
            for (std::uint64_t k = 0; k < count; ++k)
                out += static_cast<char>((address + k) & 0xff);
        }
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingStore rs;
        rs.store.parseVariableDeclaration("(struct) s40 { (size_t) size = 40; };"
                                          "(struct) s160 { (size_t) size = 160; };");
        std::vector<std::shared_ptr<RemoteData>> vars;
        for (auto [address, type] : c.vars) {
            vars.push_back(rs.var(type, 0, address));
            rs.store.requests().queue(vars.back()->varRequest());
        }
        platform::DiagnosticCapture diagnostics;
        rs.store.requests().submitRequests();
        std::string note;
        auto answer = answerValueRequest(rs.sent.empty() ? "" : rs.sent[0], AddressBytes{}, note);
        rs.store.requests().handleValueReply(answer.value_or(""));
        EXPECT_EQ(diagnostics.take(), "");
        ASSERT_EQ(rs.sent.size(), 1u);
        if (!c.text.empty()) {
            EXPECT_EQ(rs.sent[0], c.text);
        }
        for (const auto& v : vars) {
            std::vector<std::uint8_t> own(v->data().size());
            for (std::size_t k = 0; k < own.size(); ++k)
                own[k] = static_cast<std::uint8_t>(v->realAddress() + static_cast<std::int32_t>(k));
            EXPECT_EQ(v->data(), own) << v->type() << " at " << v->realAddress();
            EXPECT_FALSE(v->invalid());
        }
    }
}

TEST(RequestQueuesShortage, EveryReplyLength)
{
    // Replies cut at every length: a variable stores only when all its bytes
    // are in the payload; from the first request that does not fit on, each
    // prints "Missing data." (the requester entry too, which still runs); a
    // datagram without an identifier, or with an unknown one, is ignored.
    enum Setup { TwoWords, TwoAddresses, TwinsAndDword };
    struct Case {
        Setup setup;
        char id;
        // Of the whole datagram as it came: everything after the
        // identifier is payload.
        std::size_t length;
        int stored;
        int missing;
    };
    const Case cases[] = {
        // WORDs at 0x10 and 0x20, "ab00000010C00000020C".
        {TwoWords, 'b', 0, 0, 0}, {TwoWords, 'b', 1, 0, 0}, {TwoWords, 'b', 2, 0, 3}, {TwoWords, 'b', 3, 0, 3},
        {TwoWords, 'b', 4, 1, 2}, {TwoWords, 'b', 5, 1, 2}, {TwoWords, 'b', 6, 2, 0}, {TwoWords, 'b', 7, 2, 0},
        {TwoWords, 'z', 6, 0, 0},
        // Addresses of variables 2 and 3, "vbC8": 4 bytes give the first.
        {TwoAddresses, 'b', 6, 1, 2}, {TwoAddresses, 'b', 10, 2, 0},
        // A WORD twice at 0x10 and a DWORD at 0x20: the passive twin stores
        // only when its bytes are in the payload.
        {TwinsAndDword, 'b', 3, 0, 3}, {TwinsAndDword, 'b', 5, 2, 2}, {TwinsAndDword, 'b', 8, 3, 0},
    };
    using Vars = std::vector<std::pair<std::int32_t, const char*>>; // address, type
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.setup << " " << c.id << " " << c.length);
        RecordingStore s;
        RequestQueues& q = s.store.requests();
        std::vector<std::shared_ptr<RemoteData>> vars;
        if (c.setup == TwoAddresses) {
            for (int index : {2, 3}) {
                vars.push_back(s.var("WORD", index));
                q.queue(vars.back()->addressRequest());
            }
        } else {
            for (auto [address, type] : c.setup == TwoWords ? Vars{{0x10, "WORD"}, {0x20, "WORD"}}
                                                            : Vars{{0x10, "WORD"}, {0x10, "WORD"}, {0x20, "DWORD"}}) {
                vars.push_back(s.var(type, 0, address));
                q.queue(vars.back()->varRequest());
            }
        }
        auto r = std::make_shared<FakeRequester>();
        q.waitingRequesters().push_back(r);
        q.submitRequests();

        const char kind = c.setup == TwoAddresses ? 'V' : 'A';
        std::string datagram = reply(kind, c.id, std::vector<std::uint8_t>(16, 0x11)).substr(0, c.length);
        platform::DiagnosticCapture diagnostics;
        if (kind == 'V')
            q.handleAddressReply(datagram);
        else
            q.handleValueReply(datagram);
        std::string out = diagnostics.take();

        int stored = 0;
        for (const auto& v : vars)
            stored += kind == 'V' ? v->isReady() : !v->invalid();
        EXPECT_EQ(stored, c.stored);
        std::string missing;
        for (int i = 0; i < c.missing; ++i)
            missing += "Missing data.\n";
        EXPECT_EQ(out, missing);
        const bool used = c.length >= 2 && c.id == 'b';
        EXPECT_EQ(r->queued, used ? 1 : 0);
        EXPECT_EQ(r->submitted, used ? 1 : 0);
        EXPECT_EQ((kind == 'V' ? q.findSentAddressRequests('b') : q.findSentValueRequests('b')) == nullptr, used);
    }
}

TEST_F(Queues, AddressRequestsGoFirst)
{
    auto a = s.var("WORD", 1);
    auto b = addressed("WORD", 0x20);
    q.queue(a->varRequest());
    q.queue(b->varRequest());
    ASSERT_TRUE(q.submitRequests());
    s.nextId = 'c';
    ASSERT_TRUE(q.submitRequests());
    EXPECT_EQ(s.sent, (std::vector<std::string>{"vbB4", "ac00000020C"}));
    EXPECT_FALSE(q.submitRequests());
    EXPECT_EQ(s.sent.size(), 2u);
}

TEST_F(Queues, NothingQueuedSendsNothingAndForgetsRequesters)
{
    q.waitingRequesters().push_back(std::make_shared<FakeRequester>());
    EXPECT_FALSE(q.submitRequests());
    EXPECT_TRUE(s.sent.empty());
    EXPECT_TRUE(q.waitingRequesters().empty());
}

TEST_F(Queues, RequesterEntry)
{
    auto again = std::make_shared<FakeRequester>();
    auto done = std::make_shared<FakeRequester>();
    done->requeueFlag = false;
    auto gone = std::make_shared<FakeRequester>();
    auto v = addressed("WORD", 0x10);
    q.queue(v->varRequest());
    // `again` queued twice in this batch; it is continued once.
    for (auto& r : {again, gone, again, done})
        q.waitingRequesters().push_back(r);
    q.submitRequests();
    EXPECT_TRUE(q.waitingRequesters().empty());
    int goneQueued = 0;
    gone->onQueue = [&] { ++goneQueued; };
    std::weak_ptr<FakeRequester> watch = gone;
    gone.reset(); // its owner let it go while the request was out
    EXPECT_TRUE(watch.expired());

    store(reply('A', 'b', bytes({1, 0})), true);
    EXPECT_EQ(again->queued, 1);
    EXPECT_EQ(done->queued, 0);
    EXPECT_EQ(goneQueued, 0);
    // The next batch goes out through the last requester.
    EXPECT_EQ(done->submitted, 1);
    EXPECT_EQ(again->submitted, 0);
}

TEST_F(Queues, RequesterMaySubmitTheNextBatchWhileTheReplyIsStored)
{
    auto v = addressed("WORD", 0x10);
    auto r = std::make_shared<FakeRequester>();
    r->onQueue = [&] {
        v->invalidate();
        q.queue(v->varRequest());
        q.waitingRequesters().push_back(r);
    };
    r->onSubmit = [&] { q.submitRequests(); };
    q.queue(v->varRequest());
    q.waitingRequesters().push_back(r);
    q.submitRequests();
    // The next datagram reuses the identifier of the one being answered: its
    // list must survive the reply handling.
    store(reply('A', 'b', bytes({7, 0})), true);
    EXPECT_EQ(v->intValue(), 7);
    EXPECT_EQ(s.sent, (std::vector<std::string>{"ab00000010C", "ab00000010C"}));
    ASSERT_NE(q.findSentValueRequests('b'), nullptr);
    store(reply('A', 'b', bytes({9, 0})), true);
    EXPECT_EQ(v->intValue(), 9);
    EXPECT_EQ(r->queued, 2);
}

TEST_F(Queues, RequestCharactersAbove127AreSingleBytes)
{
    // Index 100 → byte 165; index 191 → byte 0; a 70-byte item → byte 135.
    q.queue(s.var("WORD", 100)->addressRequest());
    q.queue(s.var("WORD", 191)->addressRequest());
    q.submitRequests();
    EXPECT_EQ(s.sent[0], std::string("vb\xa5" "4", 4) + std::string("\0" "4", 2));

    RecordingStore rs;
    rs.store.parseVariableDeclaration("(struct) s70 { (size_t) size = 70; }; (s70) big = 1;");
    auto big = rs.store.variableNamed("big");
    big->setRealAddress(0x10);
    rs.store.requests().queue(big->varRequest());
    rs.store.requests().submitRequests();
    EXPECT_EQ(rs.sent[0], "ab00000010\x87");
}

TEST_F(Queues, OverlongBatchesSpillIntoTheNextDatagram)
{
    // 1000 separate items need 9000 bytes; the command channel carries
    // 5999. The text was once cut mid-item and everything past the cut never
    // answered; now whole items stay queued for the next datagram.
    std::vector<std::shared_ptr<RemoteData>> vars;
    for (int i = 0; i < 1000; ++i) {
        vars.push_back(addressed("WORD", i * 16));
        q.queue(vars.back()->varRequest());
        if (i % 10 == 0) // some duplicates, which must stay with their item
            q.queue(vars.back()->varRequest());
    }
    ASSERT_TRUE(q.submitRequests());
    ASSERT_EQ(s.sent.size(), 1u);
    const std::string first = s.sent[0];
    EXPECT_LE(first.size(), RequestQueues::kMaxRequestText);
    EXPECT_EQ((first.size() - 2) % 9, 0u);
    std::size_t items = (first.size() - 2) / 9;
    // One request per variable left over: the repeats went with their item
    // or were dropped.
    EXPECT_EQ(q.valueQueue().size(), 1000 - items);

    s.nextId = 'c';
    ASSERT_TRUE(q.submitRequests());
    EXPECT_EQ((s.sent[1].size() - 2) / 9, 1000 - items);
    EXPECT_TRUE(q.valueQueue().empty());

    // Answer both; every variable gets its value.
    auto answer = [&](const std::string& request, char id) {
        std::vector<std::uint8_t> payload;
        for (std::size_t i = 2; i < request.size(); i += 9) {
            std::uint32_t address = std::stoul(request.substr(i, 8), nullptr, 16);
            payload.push_back(static_cast<std::uint8_t>(address / 16));
            payload.push_back(static_cast<std::uint8_t>(address / 16 >> 8));
        }
        store(reply('A', id, payload), true);
    };
    answer(s.sent[0], 'b');
    answer(s.sent[1], 'c');
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(vars[static_cast<std::size_t>(i)]->intValue(), i) << i;
}

TEST(RemoteDataRequest, Pieces)
{
    auto v = RemoteData::create(nullptr);
    auto r = RemoteDataRequest::value(v, 0x100, 70, true);
    platform::DiagnosticCapture diagnostics;
    r.addToRequestSize(10);
    EXPECT_EQ(diagnostics.take(), "ERROR: Requesting too much at once\n");
    EXPECT_EQ(r.requestSize(), 75);
    EXPECT_EQ(r.request(), "00000100\x8c");
    r.addToSize(3);
    EXPECT_EQ(r.size(), 73);
    r.becomePassive();
    EXPECT_EQ(r.size(), 0);
    EXPECT_EQ(r.request(), "");
    r.reset();
    EXPECT_EQ(r.size(), 70);
    EXPECT_EQ(r.request(), "00000100\x87");

    auto a = RemoteDataRequest::baseAddress(v, 4, 4, false);
    a.addToRequestSize(4);
    EXPECT_EQ(a.request(), "E8");
    EXPECT_NE(a.description().find("index=0x4 size=4>"), std::string::npos);
    EXPECT_NE(r.description().find("storeData address=0x100 size=70>"), std::string::npos);
    EXPECT_NE(RemoteDataRequest::requesters({}).description().find(" requeue>"), std::string::npos);
}

TEST_F(Queues, SilentDeviceDoesNotGrowTheLeftovers)
{
    // Requests cut off a full datagram stay queued; when the device never
    // answers and the same 1000 variables are queued again at every pass,
    // the leftovers once kept every repeat and grew without bound.
    std::vector<std::shared_ptr<RemoteData>> vars;
    for (int i = 0; i < 1000; ++i)
        vars.push_back(addressed("WORD", i * 16));
    std::size_t most = 0;
    for (int pass = 0; pass < 20; ++pass) {
        for (auto& v : vars)
            q.queue(v->varRequest());
        ASSERT_TRUE(q.submitRequests());
        most = std::max(most, q.valueQueue().size());
    }
    EXPECT_LE(most, vars.size());
    EXPECT_GT(most, 0u);
}

TEST_F(Queues, DebugOutput)
{
    s.debugFlag = true;
    platform::DiagnosticCapture diagnostics;
    auto v = s.store.createVar("speed", "WORD", 2);
    v->setRealAddress(0x10);
    q.queue(v->varRequest());
    q.submitRequests();
    q.handleValueReply(reply('A', 'b', bytes({0x34, 0x12})));
    std::string out = diagnostics.take();
    EXPECT_EQ(out, "Name: 'speed', Type: 'WORD', withOffset: '2'\n"
                   "Submitting\n"
                   "We got 2 bytes\n"
                   "Storing data for 'speed' 1234\n"
                   "Had 2 bytes worth of waiting people\n");
}
