// fault-sender: a MIDI sender on the JACK server for the fault tests, which drive it through
// its standard input, one command a line, and read its answers, one a line, on its standard
// output. The tests kill it to make a sender vanish.
//
//   open <client>              a client <client> with an output port "out"    -> ready
//   connect <text>             connects "out" to the first input port whose
//                              name holds <text>                               -> connected | missing
//   send <hex>                 one message, as given (whole or not), answered
//                              once the server has had a few periods to carry it -> sent
//   events <first> <count>     capture events numbered first, first+1, ...     -> sent <count>
//   flood <first>              capture events from first on, until "stop"      -> flooding, then
//   stop                                                                          stopped <count>
//
// Capture event n has the camera state n (16 bits) and the timecode 10:00:00:00, so a receiver
// can tell the order they were sent in. Events go out in bursts of 100, one burst per period
// of the server (256 frames at 48 kHz): the server drops what does not fit a period's buffer.

#include "DeviceCodec.h"

#include <RtMidi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Burst = 100;
constexpr auto Period = std::chrono::milliseconds(6);

void answer(const std::string &line)
{
    std::cout << line << std::endl; // flushed: the test waits for it
}

std::vector<unsigned char> captureEvent(unsigned number)
{
    const std::vector<std::uint8_t> payload{std::uint8_t(number & 0xFF), std::uint8_t(number >> 8 & 0xFF), 0x10, 0x00,
                                            0x00, 0x00};
    const std::vector<std::uint8_t> message = EncodeDeviceMessage(OrvexMessage::CaptureEvent, payload);
    return std::vector<unsigned char>(message.begin(), message.end());
}

std::vector<unsigned char> fromHex(const std::string &hex)
{
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

void onError(RtMidiError::Type, const std::string &text, void *)
{
    std::cerr << "fault-sender: " << text << std::endl;
}

} // namespace

int main()
{
    std::unique_ptr<RtMidiOut> out;
    std::atomic<bool> stopFlood{false};
    std::thread flood;
    unsigned flooded = 0;

    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        try {
            if (command == "open") {
                std::string client;
                words >> client;
                out = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, client);
                out->setErrorCallback(&onError, nullptr);
                out->openVirtualPort("out");
                answer("ready");
            } else if (command == "connect") {
                std::string text;
                words >> text;
                // A second client of the same name holds the connecting port.
                out->closePort();
                bool found = false;
                for (unsigned i = 0; i < out->getPortCount() && !found; ++i) {
                    if (out->getPortName(i).find(text) != std::string::npos) {
                        out->openPort(i, "out");
                        found = true;
                    }
                }
                answer(found ? "connected" : "missing");
            } else if (command == "send") {
                std::string hex;
                words >> hex;
                const auto message = fromHex(hex);
                out->sendMessage(&message);
                std::this_thread::sleep_for(4 * Period);
                answer("sent");
            } else if (command == "events") {
                unsigned first = 0;
                unsigned count = 0;
                words >> first >> count;
                for (unsigned n = 0; n < count; ++n) {
                    const auto message = captureEvent(first + n);
                    out->sendMessage(&message);
                    if ((n + 1) % Burst == 0)
                        std::this_thread::sleep_for(Period);
                }
                answer("sent " + std::to_string(count));
            } else if (command == "flood") {
                unsigned first = 0;
                words >> first;
                stopFlood = false;
                flood = std::thread([&out, &stopFlood, &flooded, first] {
                    for (unsigned n = 0; !stopFlood; ++n) {
                        const auto message = captureEvent(first + n);
                        out->sendMessage(&message);
                        flooded = n + 1;
                        if ((n + 1) % Burst == 0)
                            std::this_thread::sleep_for(Period);
                    }
                });
                answer("flooding");
            } else if (command == "stop") {
                stopFlood = true;
                if (flood.joinable())
                    flood.join();
                answer("stopped " + std::to_string(flooded));
            } else {
                answer("unknown " + command);
            }
        } catch (const std::exception &e) {
            answer(std::string("failed ") + e.what());
        }
    }
    stopFlood = true;
    if (flood.joinable())
        flood.join();
    return 0;
}
