#include "CommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <utility>
#include <vector>

#include "UdpSocket.h"

namespace GevSim {

namespace {

using Apply = std::function<bool(CommandLineSettings&, const std::string&)>;

struct Option {
    const char* name;       // after "--"
    const char* valueName;  // nullptr: a flag without value
    const char* help;
    Apply apply;
};

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || parsed > max) return false;
    *value = parsed;
    return true;
}

bool ParseMac(const std::string& text, std::array<uint8_t, 6>* mac) {
    unsigned bytes[6];
    char extra;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &bytes[0], &bytes[1], &bytes[2],
                    &bytes[3], &bytes[4], &bytes[5], &extra) != 6)
        return false;
    for (int i = 0; i < 6; ++i) (*mac)[i] = static_cast<uint8_t>(bytes[i]);
    return true;
}

Apply Number32(uint32_t CameraConfig::*field, uint32_t min, uint32_t max) {
    return [field, min, max](CommandLineSettings& s, const std::string& v) {
        uint64_t n;
        if (!ParseNumber(v, max, &n) || n < min) return false;
        s.camera.*field = static_cast<uint32_t>(n);
        return true;
    };
}

bool ParseFraction(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(parsed >= 0)) return false;
    *value = parsed;
    return true;
}

Apply Text(std::string CameraConfig::*field) {
    return [field](CommandLineSettings& s, const std::string& v) {
        s.camera.*field = v;
        return true;
    };
}

const std::vector<std::pair<std::string, uint16_t>>& PayloadTypes() {
    static const std::vector<std::pair<std::string, uint16_t>> types = {
        {"image", 0x0001}, {"chunk", 0x4001},      {"raw", 0x0002},   {"chunk-data", 0x0004},
        {"jpeg", 0x0006},  {"multi-part", 0x000A}, {"gendc", 0x000B},
    };
    return types;
}

const std::vector<Option>& Options() {
    static const std::vector<Option> options = {
        {"address", "A.B.C.D", "IPv4 address to serve on (required)",
         [](CommandLineSettings& s, const std::string& v) {
             uint32_t ip;
             s.camera.address = v;
             return ParseIpv4(v, &ip);
         }},
        {"port", "P", "GVCP UDP port (default 3956)",
         [](CommandLineSettings& s, const std::string& v) {
             uint64_t port;
             if (!ParseNumber(v, 0xFFFF, &port) || port == 0) return false;
             s.camera.port = static_cast<uint16_t>(port);
             return true;
         }},
        {"mac", "xx:xx:xx:xx:xx:xx", "MAC address",
         [](CommandLineSettings& s, const std::string& v) { return ParseMac(v, &s.camera.mac); }},
        {"serial", "S", "serial number (at most 16 bytes)", Text(&CameraConfig::serial)},
        {"model", "M", "model name", Text(&CameraConfig::model)},
        {"manufacturer", "V", "manufacturer name", Text(&CameraConfig::manufacturer)},
        {"user-name", "U", "user-defined name", Text(&CameraConfig::userName)},
        {"mask", "A.B.C.D", "subnet mask",
         [](CommandLineSettings& s, const std::string& v) {
             return ParseIpv4(v, &s.camera.subnetMask);
         }},
        {"heartbeat-timeout", "MS", "heartbeat timeout in ms (default 3000, at least 500)",
         [](CommandLineSettings& s, const std::string& v) {
             uint64_t ms;
             if (!ParseNumber(v, UINT32_MAX, &ms)) return false;
             s.camera.heartbeatTimeoutMs = static_cast<uint32_t>(ms);
             return true;
         }},
        {"no-writemem", nullptr, "do not offer WRITEMEM",
         [](CommandLineSettings& s, const std::string&) {
             s.camera.gvcpCapability &= ~Capability::kWriteMem;
             return true;
         }},
        {"no-events", nullptr, "do not offer EVENT and EVENTDATA",
         [](CommandLineSettings& s, const std::string&) {
             s.camera.gvcpCapability &= ~(Capability::kEvent | Capability::kEventData);
             return true;
         }},
        {"no-packet-resend", nullptr, "do not offer PACKETRESEND",
         [](CommandLineSettings& s, const std::string&) {
             s.camera.gvcpCapability &= ~Capability::kPacketResend;
             return true;
         }},
        {"no-test-data", nullptr, "GVSP test packets carry zeros instead of LFSR bytes",
         [](CommandLineSettings& s, const std::string&) {
             s.camera.gvcpCapability &= ~Capability::kTestData;
             return true;
         }},
        {"width", "N", "initial image width (multiple of 4, default 640)",
         [](CommandLineSettings& s, const std::string& v) {
             return Number32(&CameraConfig::width, 16, 2048)(s, v) && s.camera.width % 4 == 0;
         }},
        {"height", "N", "initial image height (default 480)",
         Number32(&CameraConfig::height, 16, 2048)},
        {"padding-x", "BYTES", "zero bytes after each image line (default 0)",
         Number32(&CameraConfig::paddingX, 0, 0xFFFF)},
        {"fps", "N|max", "initial AcquisitionFrameRate, 1..100 (default 30); max: unthrottled",
         [](CommandLineSettings& s, const std::string& v) {
             double rate = 0;
             if (v == "max") {
                 s.camera.frameRate = 0;
                 return true;
             }
             if (!ParseFraction(v, &rate) || rate < 1 || rate > 100) return false;
             s.camera.frameRate = static_cast<float>(rate);
             return true;
         }},
        {"payload", "image|chunk|raw|chunk-data|jpeg|multi-part|gendc",
         "GVSP payload type (default image; chunk: image with extended chunk data)",
         [](CommandLineSettings& s, const std::string& v) {
             for (const auto& [name, type] : PayloadTypes())
                 if (v == name) {
                     s.camera.payloadType = type;
                     return true;
                 }
             return false;
         }},
        {"parts", "2|3",
         "parts of a multi-part block: image and confidence map (default 2), or a Mono16 "
         "range map before them (3)",
         [](CommandLineSettings& s, const std::string& v) {
             if (v != "2" && v != "3") return false;
             s.camera.multiPartParts = v == "2" ? 2 : 3;
             return true;
         }},
        {"extended-ids", nullptr, "start with 64-bit GVSP block ids enabled",
         [](CommandLineSettings& s, const std::string&) { return s.camera.extendedIds = true; }},
        {"first-block-id", "N", "id of the first block (default 1)",
         [](CommandLineSettings& s, const std::string& v) {
             uint64_t id;
             if (!ParseNumber(v, UINT64_MAX, &id) || id == 0) return false;
             s.camera.firstBlockId = id;
             return true;
         }},
        {"link-speed", "MBPS", "link speed the stream is paced at (default 1000)",
         [](CommandLineSettings& s, const std::string& v) {
             uint64_t speed;
             if (!ParseNumber(v, 1000000, &speed) || speed == 0) return false;
             s.camera.linkSpeedMbps = static_cast<uint32_t>(speed);
             return true;
         }},
        {"packet-size", "BYTES", "initial stream packet size, SCPS (default 1500)",
         [](CommandLineSettings& s, const std::string& v) {
             uint64_t size;
             if (!ParseNumber(v, 65535, &size) || size < 576) return false;
             s.camera.packetSize = static_cast<uint32_t>(size);
             return true;
         }},
        {"test-pattern", "N",
         "TestPattern at power-up: 0 Off (default; a diagonal ramp moving with the block), "
         "1 GreyHorizontalRamp, 2 GreyVerticalRamp (both moving), 3 GreyDiagonalRamp "
         "(standing still: drawn once, not per block)",
         [](CommandLineSettings& s, const std::string& v) {
             uint64_t pattern;
             if (!ParseNumber(v, 3, &pattern)) return false;
             s.camera.testPattern = static_cast<uint32_t>(pattern);
             return true;
         }},
        {"send-mode", "plain|batch|gso",
         "datagrams per system call: one (default), batches of up to 64 (sendmmsg), or "
         "batches with UDP segmentation offload",
         [](CommandLineSettings& s, const std::string& v) {
             return ParseSendMode(v, &s.camera.sendMode);
         }},
        {"loss-ratio", "R", "lose this fraction (0..1) of stream packets, resends get through",
         [](CommandLineSettings& s, const std::string& v) {
             return ParseFraction(v, &s.lossRatio) && s.lossRatio <= 1;
         }},
        {"spare-one-packet", nullptr,
         "--loss-ratio never loses every packet of a block on first transmission",
         [](CommandLineSettings& s, const std::string&) { return s.spareOnePacket = true; }},
        {"duplicate-ratio", "R", "send this fraction (0..1) of stream packets twice",
         [](CommandLineSettings& s, const std::string& v) {
             return ParseFraction(v, &s.duplicateRatio) && s.duplicateRatio <= 1;
         }},
        {"reorder-ratio", "R",
         "hold this fraction (0..1) of stream packets back a few places in their block",
         [](CommandLineSettings& s, const std::string& v) {
             return ParseFraction(v, &s.reorderRatio) && s.reorderRatio <= 1;
         }},
        {"reorder-distance", "N", "most places a held packet moves (default 3)",
         [](CommandLineSettings& s, const std::string& v) {
             uint64_t distance;
             if (!ParseNumber(v, 1000, &distance) || distance == 0) return false;
             s.reorderDistance = static_cast<uint32_t>(distance);
             return true;
         }},
        {"seed", "S", "seed of the loss, duplicate and reorder ratios (default 0)",
         [](CommandLineSettings& s, const std::string& v) {
             return ParseNumber(v, UINT64_MAX, &s.lossSeed);
         }},
        {"silent", nullptr, "ignore every datagram (an unplugged camera)",
         [](CommandLineSettings& s, const std::string&) { return s.silent = true; }},
        {"verbose", nullptr, "print every command received",
         [](CommandLineSettings& s, const std::string&) { return s.verbose = true; }},
        {"help", nullptr, "show this text",
         [](CommandLineSettings& s, const std::string&) { return s.help = true; }},
    };
    return options;
}

}  // namespace

bool ParseCommandLine(int argc, const char* const* argv, CommandLineSettings* settings,
                      std::string* error) {
    bool haveAddress = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0) {
            *error = "unexpected argument: " + arg;
            return false;
        }
        std::string name = arg.substr(2), value;
        const size_t equals = name.find('=');
        const bool inlineValue = equals != std::string::npos;
        if (inlineValue) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        const Option* option = nullptr;
        for (const Option& candidate : Options())
            if (name == candidate.name) option = &candidate;
        if (option == nullptr) {
            *error = "unknown option --" + name;
            return false;
        }
        if (option->valueName && !inlineValue) {
            if (i + 1 >= argc) {
                *error = "--" + name + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (!option->apply(*settings, value)) {
            *error = "bad value for --" + name + ": " + value;
            return false;
        }
        haveAddress = haveAddress || name == "address";
    }
    if (!haveAddress && !settings->help) {
        *error = "--address is required";
        return false;
    }
    return true;
}

void ApplyStreamFaults(const CommandLineSettings& settings, StreamFaults* faults) {
    if (settings.lossRatio > 0) faults->DropRatio(settings.lossRatio, settings.lossSeed);
    faults->SpareOnePacketPerBlock(settings.spareOnePacket);
    if (settings.duplicateRatio > 0)
        faults->DuplicateRatio(settings.duplicateRatio, settings.lossSeed);
    if (settings.reorderRatio > 0)
        faults->ReorderRatio(settings.reorderRatio, settings.lossSeed, settings.reorderDistance);
}

std::string Usage() {
    std::string text =
        "usage: gevsim --address A.B.C.D [options]\n"
        "Serves one simulated GigE Vision camera (GVCP, GVSP) until SIGINT or SIGTERM.\n\n";
    for (const Option& option : Options()) {
        std::string left = std::string("  --") + option.name;
        if (option.valueName) left += std::string(" ") + option.valueName;
        left.resize(std::max<size_t>(left.size() + 1, 34), ' ');
        text += left + option.help + "\n";
    }
    return text;
}

}  // namespace GevSim
