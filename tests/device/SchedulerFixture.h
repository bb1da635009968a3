#pragma once
// A device record on the manual loop whose request datagrams go over
// loopback UDP to a fake device, which the test lets answer: addresses are
// 0x100 + 0x40 * index, and each memory byte holds the low byte of its own
// address. Widgets count how often they were asked and told.

#include "device/Client.h"
#include "expr/Compiler.h"
#include "expr/Node.h"
#include "platform/Diagnostics.h"
#include "variables/RequestAnswer.h"

#include "support/TestServices.h"
#include "support/UdpPeer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace fieldmon::test {

struct CountingWidget {
    int told = 0;
    int asked = 0;
    bool visible = true;
    std::vector<double> askedAt;
    platform::ManualLoop* loop = nullptr;
    std::function<void()> onTold;
    std::function<void()> onAsked;

    void update()
    {
        ++told;
        if (onTold)
            onTold();
    }
    bool isVisible()
    {
        ++asked;
        if (loop)
            askedAt.push_back(loop->now());
        if (onAsked)
            onAsked();
        return visible;
    }
};

struct SchedulerFixture : ::testing::Test {
    TestServices s;
    std::shared_ptr<Client> client = Client::create(false, s.services);
    UdpPeer device{"127.0.0.1"};
    int sock = makeSendSocket();
    std::mutex send_mutex;
    std::vector<std::string> sent; // every request datagram the device got

    SchedulerFixture()
    {
        client->setSocket(sock, &send_mutex);
        client->setAddress(ipv4("127.0.0.1"), device.port());
        quietly([&] { client->variables().parseVariableDeclaration("(int) temp = 0; (int) pressure = 1; (int) level = 2;"); });
    }
    ~SchedulerFixture() override
    {
        // Bindings hold the record through their expressions and widgets.
        client->scheduler().unscheduleAll();
        client->variables().requests().clear();
        ::close(sock);
    }

    // How many quietly() runs are open. A test that reads the diagnostics of
    // quiet runs itself raises it around them, so that they reach its capture.
    static int& quietDepth()
    {
        static int depth = 0;
        return depth;
    }

    // Runs f with its diagnostics swallowed (callbacks may nest this).
    template <typename F>
    static void quietly(F&& f)
    {
        std::optional<platform::DiagnosticCapture> swallowed;
        if (quietDepth()++ == 0)
            swallowed.emplace();
        f();
        --quietDepth();
    }

    std::shared_ptr<CountingWidget> widget()
    {
        auto w = std::make_shared<CountingWidget>();
        w->loop = &s.loop;
        return w;
    }

    expr::NodePtr compile(std::string_view text)
    {
        expr::NodePtr n;
        quietly([&] { n = expr::Compiler::compile(client, text); });
        return n;
    }

    void bind(const std::string& text, const std::shared_ptr<CountingWidget>& w, std::string_view rate)
    {
        client->scheduler().bind(compile(text), w, &CountingWidget::update, w, &CountingWidget::isVisible, rate);
    }

    // Request datagrams that reached the device since the last call.
    std::vector<std::string> received()
    {
        std::vector<std::string> got;
        while (auto d = device.receive(0))
            got.push_back(d->bytes);
        sent.insert(sent.end(), got.begin(), got.end());
        return got;
    }

    // The fake device's memory: variable i at 0x100 + 0x40 * i, every byte
    // the low byte of its own address.
    struct FakeMemory : AnswerMemory {
        std::uint32_t addressOfIndex(int index) const override
        {
            return 0x100 + 0x40 * static_cast<std::uint32_t>(index);
        }
        void read(std::uint64_t address, std::uint64_t count, std::string& out) const override
        {
            for (std::uint64_t k = 0; k < count; ++k)
                out += static_cast<char>((address + k) & 0xff);
        }
    };

    static std::string reply(const std::string& request)
    {
        std::string note;
        auto answer = request[0] == 'v' ? answerAddressRequest(request, FakeMemory{}, note)
                                        : answerValueRequest(request, FakeMemory{}, note);
        return answer.value_or(std::string());
    }

    // The device's reply to one request, handled as the main thread would.
    void answer(const std::string& request)
    {
        quietly([&] {
            if (request[0] == 'v')
                client->variables().requests().handleAddressReply(reply(request));
            else
                client->variables().requests().handleValueReply(reply(request));
        });
    }

    // Lets the device answer every request until none is left, or `most`
    // were answered; each answer is handled as the main thread would (the
    // next request may follow at once). Returns how many were answered.
    int answerAll(int most = 1 << 30)
    {
        int answered = 0;
        for (auto batch = received(); !batch.empty() && answered < most; batch = received()) {
            for (const auto& req : batch) {
                answer(req);
                ++answered;
            }
        }
        return answered;
    }

    // Advances virtual time in small steps to exactly `seconds` from now,
    // answering the device in between.
    void run(double seconds, double step = 0.01)
    {
        const double start = s.loop.now(), end = start + seconds;
        for (int k = 1; start + k * step < end; ++k) {
            quietly([&] { s.loop.advance(start + k * step - s.loop.now()); });
            answerAll();
        }
        quietly([&] { s.loop.advance(end - s.loop.now()); });
        answerAll();
    }

    static int valueRequests(const std::vector<std::string>& datagrams)
    {
        int n = 0;
        for (const auto& d : datagrams)
            n += d[0] == 'a';
        return n;
    }
};

} // namespace fieldmon::test
