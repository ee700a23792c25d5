#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/CaseValue.h"
#include "protocol/AppInfo.h"
#include "protocol/AppListPage.h"
#include "protocol/ByeReason.h"
#include "protocol/ClientHello.h"
#include "protocol/ClientStats.h"
#include "protocol/ConnectionRecord.h"
#include "protocol/CursorShape.h"
#include "protocol/CurtainState.h"
#include "protocol/DisplayInfo.h"
#include "protocol/FileItem.h"
#include "protocol/FileTransferReply.h"
#include "protocol/FileTransferRequest.h"
#include "protocol/HostHello.h"
#include "protocol/PairRequest.h"
#include "protocol/PairResponse.h"
#include "protocol/StreamDescription.h"
#include "protocol/StreamRequest.h"
#include "protocol/TextInputArea.h"
#include "protocol/json/JsonError.h"
#include "protocol/json/JsonRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velm {

// The cases of ControlMessage, each the record of its payload, with the way it travels. They
// are complete before the variant of them is made: the member initialisers of a class nested in
// another are only read once the outer one is complete.
struct ControlMessageCases {
    enum class Direction { clientToHost, hostToClient, both };

    // Opens a session and proves the device; answered by helloAck, or bye.
    struct Hello {
        static constexpr std::string_view caseName = "hello";
        static constexpr Direction direction = Direction::clientToHost;
        ClientHello hello;
        static void fields(auto& visit, auto&... self) { visit("_0", self.hello...); }
        friend bool operator==(const Hello& a, const Hello& b) { return fieldsEqual(a, b); }
    };

    // The host admitted the session.
    struct HelloAck {
        static constexpr std::string_view caseName = "helloAck";
        static constexpr Direction direction = Direction::hostToClient;
        HostHello hello;
        static void fields(auto& visit, auto&... self) { visit("_0", self.hello...); }
        friend bool operator==(const HelloAck& a, const HelloAck& b) { return fieldsEqual(a, b); }
    };

    // Asks to pair over the pairing code's key; answered by pairResponse, or bye.
    struct PairRequest {
        static constexpr std::string_view caseName = "pairRequest";
        static constexpr Direction direction = Direction::clientToHost;
        velm::PairRequest request;
        static void fields(auto& visit, auto&... self) { visit("_0", self.request...); }
        friend bool operator==(const PairRequest& a, const PairRequest& b) { return fieldsEqual(a, b); }
    };

    struct PairResponse {
        static constexpr std::string_view caseName = "pairResponse";
        static constexpr Direction direction = Direction::hostToClient;
        velm::PairResponse response;
        static void fields(auto& visit, auto&... self) { visit("_0", self.response...); }
        friend bool operator==(const PairResponse& a, const PairResponse& b) { return fieldsEqual(a, b); }
    };

    // Starts, changes or resumes the stream; answered by streamStarted.
    struct ConfigureStream {
        static constexpr std::string_view caseName = "configureStream";
        static constexpr Direction direction = Direction::clientToHost;
        StreamRequest request;
        static void fields(auto& visit, auto&... self) { visit("_0", self.request...); }
        friend bool operator==(const ConfigureStream& a, const ConfigureStream& b) {
            return fieldsEqual(a, b);
        }
    };

    struct StreamStarted {
        static constexpr std::string_view caseName = "streamStarted";
        static constexpr Direction direction = Direction::hostToClient;
        StreamDescription description;
        static void fields(auto& visit, auto&... self) { visit("_0", self.description...); }
        friend bool operator==(const StreamStarted& a, const StreamStarted& b) { return fieldsEqual(a, b); }
    };

    struct RequestKeyframe {
        static constexpr std::string_view caseName = "requestKeyframe";
        static constexpr Direction direction = Direction::clientToHost;
        static void fields(auto&, auto&...) {}
        friend bool operator==(const RequestKeyframe&, const RequestKeyframe&) { return true; }
    };

    // Stops capture and sound until the next configureStream.
    struct PauseStream {
        static constexpr std::string_view caseName = "pauseStream";
        static constexpr Direction direction = Direction::clientToHost;
        static void fields(auto&, auto&...) {}
        friend bool operator==(const PauseStream&, const PauseStream&) { return true; }
    };

    // A clock probe; clientTime in microseconds. Answered by pong.
    struct Ping {
        static constexpr std::string_view caseName = "ping";
        static constexpr Direction direction = Direction::clientToHost;
        std::uint32_t id = 0;
        std::uint64_t clientTime = 0;
        static void fields(auto& visit, auto&... self) {
            visit("id", self.id...);
            visit("clientTime", self.clientTime...);
        }
        friend bool operator==(const Ping& a, const Ping& b) { return fieldsEqual(a, b); }
    };

    // id and clientTime copied from the ping; hostTime from the host's monotonic clock, in microseconds.
    struct Pong {
        static constexpr std::string_view caseName = "pong";
        static constexpr Direction direction = Direction::hostToClient;
        std::uint32_t id = 0;
        std::uint64_t clientTime = 0;
        std::uint64_t hostTime = 0;
        static void fields(auto& visit, auto&... self) {
            visit("id", self.id...);
            visit("clientTime", self.clientTime...);
            visit("hostTime", self.hostTime...);
        }
        friend bool operator==(const Pong& a, const Pong& b) { return fieldsEqual(a, b); }
    };

    struct ClientStats {
        static constexpr std::string_view caseName = "clientStats";
        static constexpr Direction direction = Direction::clientToHost;
        velm::ClientStats stats;
        static void fields(auto& visit, auto&... self) { visit("_0", self.stats...); }
        friend bool operator==(const ClientStats& a, const ClientStats& b) { return fieldsEqual(a, b); }
    };

    // Sent only when the host's rate control changed the video bitrate.
    struct BitrateChanged {
        static constexpr std::string_view caseName = "bitrateChanged";
        static constexpr Direction direction = Direction::hostToClient;
        std::int64_t bitsPerSecond = 0;
        static void fields(auto& visit, auto&... self) { visit("_0", self.bitsPerSecond...); }
        friend bool operator==(const BitrateChanged& a, const BitrateChanged& b) { return fieldsEqual(a, b); }
    };

    struct DisplaysChanged {
        static constexpr std::string_view caseName = "displaysChanged";
        static constexpr Direction direction = Direction::hostToClient;
        std::vector<DisplayInfo> displays;
        static void fields(auto& visit, auto&... self) { visit("_0", self.displays...); }
        friend bool operator==(const DisplaysChanged& a, const DisplaysChanged& b) {
            return fieldsEqual(a, b);
        }
    };

    // Fractions of the streamed display from its left and top edges, each within 0...1.
    struct PointerPosition {
        static constexpr std::string_view caseName = "pointerPosition";
        static constexpr Direction direction = Direction::hostToClient;
        double x = 0;
        double y = 0;
        static void fields(auto& visit, auto&... self) {
            visit("x", self.x...);
            visit("y", self.y...);
        }
        friend bool operator==(const PointerPosition& a, const PointerPosition& b) {
            return fieldsEqual(a, b);
        }
    };

    // Whether a text field on the host has the keyboard focus.
    struct TextInputFocus {
        static constexpr std::string_view caseName = "textInputFocus";
        static constexpr Direction direction = Direction::hostToClient;
        bool isFocused = false;
        static void fields(auto& visit, auto&... self) { visit("_0", self.isFocused...); }
        friend bool operator==(const TextInputFocus& a, const TextInputFocus& b) { return fieldsEqual(a, b); }
    };

    // Absent when the field has no known rectangle on the streamed display.
    struct TextInputArea {
        static constexpr std::string_view caseName = "textInputArea";
        static constexpr Direction direction = Direction::hostToClient;
        std::optional<velm::TextInputArea> area;
        static void fields(auto& visit, auto&... self) { visit("_0", self.area...); }
        friend bool operator==(const TextInputArea& a, const TextInputArea& b) { return fieldsEqual(a, b); }
    };

    struct CursorShape {
        static constexpr std::string_view caseName = "cursorShape";
        static constexpr Direction direction = Direction::hostToClient;
        velm::CursorShape shape;
        static void fields(auto& visit, auto&... self) { visit("_0", self.shape...); }
        friend bool operator==(const CursorShape& a, const CursorShape& b) { return fieldsEqual(a, b); }
    };

    // Starts or stops the host's sound on the audio channel.
    struct ConfigureAudio {
        static constexpr std::string_view caseName = "configureAudio";
        static constexpr Direction direction = Direction::clientToHost;
        bool enabled = false;
        static void fields(auto& visit, auto&... self) { visit("_0", self.enabled...); }
        friend bool operator==(const ConfigureAudio& a, const ConfigureAudio& b) { return fieldsEqual(a, b); }
    };

    // Answered by apps.
    struct ListApps {
        static constexpr std::string_view caseName = "listApps";
        static constexpr Direction direction = Direction::clientToHost;
        static void fields(auto&, auto&...) {}
        friend bool operator==(const ListApps&, const ListApps&) { return true; }
    };

    // The running applications.
    struct Apps {
        static constexpr std::string_view caseName = "apps";
        static constexpr Direction direction = Direction::hostToClient;
        std::vector<AppInfo> apps;
        static void fields(auto& visit, auto&... self) { visit("_0", self.apps...); }
        friend bool operator==(const Apps& a, const Apps& b) { return fieldsEqual(a, b); }
    };

    // Answered by installedApps pages, the last with isLast.
    struct ListInstalledApps {
        static constexpr std::string_view caseName = "listInstalledApps";
        static constexpr Direction direction = Direction::clientToHost;
        static void fields(auto&, auto&...) {}
        friend bool operator==(const ListInstalledApps&, const ListInstalledApps&) { return true; }
    };

    struct InstalledApps {
        static constexpr std::string_view caseName = "installedApps";
        static constexpr Direction direction = Direction::hostToClient;
        AppListPage page;
        static void fields(auto& visit, auto&... self) { visit("_0", self.page...); }
        friend bool operator==(const InstalledApps& a, const InstalledApps& b) { return fieldsEqual(a, b); }
    };

    // Answered by deviceImage.
    struct RequestDeviceImage {
        static constexpr std::string_view caseName = "requestDeviceImage";
        static constexpr Direction direction = Direction::clientToHost;
        static void fields(auto&, auto&...) {}
        friend bool operator==(const RequestDeviceImage&, const RequestDeviceImage&) { return true; }
    };

    // PNG pictures of the host's model and of an attached external display; each absent when there is none.
    struct DeviceImage {
        static constexpr std::string_view caseName = "deviceImage";
        static constexpr Direction direction = Direction::hostToClient;
        std::optional<Bytes> image;
        std::optional<Bytes> display;
        static void fields(auto& visit, auto&... self) {
            visit("_0", self.image...);
            visit("display", self.display...);
        }
        friend bool operator==(const DeviceImage& a, const DeviceImage& b) { return fieldsEqual(a, b); }
    };

    // The only request on a connection of its own; answered by glimpse, or bye.
    struct RequestGlimpse {
        static constexpr std::string_view caseName = "requestGlimpse";
        static constexpr Direction direction = Direction::clientToHost;
        ClientHello hello;
        static void fields(auto& visit, auto&... self) { visit("_0", self.hello...); }
        friend bool operator==(const RequestGlimpse& a, const RequestGlimpse& b) { return fieldsEqual(a, b); }
    };

    // A still of the host's main display; absent when none could be taken.
    struct Glimpse {
        static constexpr std::string_view caseName = "glimpse";
        static constexpr Direction direction = Direction::hostToClient;
        std::optional<Bytes> jpeg;
        static void fields(auto& visit, auto&... self) { visit("_0", self.jpeg...); }
        friend bool operator==(const Glimpse& a, const Glimpse& b) { return fieldsEqual(a, b); }
    };

    // The only request on a file connection of its own; answered by fileTransfer.
    struct OpenFileTransfer {
        static constexpr std::string_view caseName = "openFileTransfer";
        static constexpr Direction direction = Direction::clientToHost;
        ClientHello hello;
        FileTransferRequest request;
        static void fields(auto& visit, auto&... self) {
            visit("_0", self.hello...);
            visit("_1", self.request...);
        }
        friend bool operator==(const OpenFileTransfer& a, const OpenFileTransfer& b) {
            return fieldsEqual(a, b);
        }
    };

    struct FileTransfer {
        static constexpr std::string_view caseName = "fileTransfer";
        static constexpr Direction direction = Direction::hostToClient;
        FileTransferReply reply;
        static void fields(auto& visit, auto&... self) { visit("_0", self.reply...); }
        friend bool operator==(const FileTransfer& a, const FileTransfer& b) { return fieldsEqual(a, b); }
    };

    // The files the host offers for download.
    struct FilesAvailable {
        static constexpr std::string_view caseName = "filesAvailable";
        static constexpr Direction direction = Direction::hostToClient;
        std::vector<FileItem> files;
        static void fields(auto& visit, auto&... self) { visit("_0", self.files...); }
        friend bool operator==(const FilesAvailable& a, const FilesAvailable& b) { return fieldsEqual(a, b); }
    };

    // The reason is a sentence for the user.
    struct AppModeEnded {
        static constexpr std::string_view caseName = "appModeEnded";
        static constexpr Direction direction = Direction::hostToClient;
        std::string reason;
        static void fields(auto& visit, auto&... self) { visit("reason", self.reason...); }
        friend bool operator==(const AppModeEnded& a, const AppModeEnded& b) { return fieldsEqual(a, b); }
    };

    // The only request on a connection of its own; answered by history, or bye.
    struct RequestHistory {
        static constexpr std::string_view caseName = "requestHistory";
        static constexpr Direction direction = Direction::clientToHost;
        ClientHello hello;
        static void fields(auto& visit, auto&... self) { visit("_0", self.hello...); }
        friend bool operator==(const RequestHistory& a, const RequestHistory& b) { return fieldsEqual(a, b); }
    };

    // The host's connection history, as a bare array of records.
    struct History {
        static constexpr std::string_view caseName = "history";
        static constexpr Direction direction = Direction::hostToClient;
        std::vector<ConnectionRecord> records;
        static void fields(auto& visit, auto&... self) { visit("_0", self.records...); }
        friend bool operator==(const History& a, const History& b) { return fieldsEqual(a, b); }
    };

    // The host ends the session for idleness in this many seconds unless activity comes first.
    struct IdleWarning {
        static constexpr std::string_view caseName = "idleWarning";
        static constexpr Direction direction = Direction::hostToClient;
        std::int64_t secondsLeft = 0;
        static void fields(auto& visit, auto&... self) { visit("secondsLeft", self.secondsLeft...); }
        friend bool operator==(const IdleWarning& a, const IdleWarning& b) { return fieldsEqual(a, b); }
    };

    // Counts as activity for the host's idle clock.
    struct StillHere {
        static constexpr std::string_view caseName = "stillHere";
        static constexpr Direction direction = Direction::clientToHost;
        static void fields(auto&, auto&...) {}
        friend bool operator==(const StillHere&, const StillHere&) { return true; }
    };

    // Raises or lowers the curtain; answered by curtain.
    struct SetCurtain {
        static constexpr std::string_view caseName = "setCurtain";
        static constexpr Direction direction = Direction::clientToHost;
        bool on = false;
        static void fields(auto& visit, auto&... self) { visit("_0", self.on...); }
        friend bool operator==(const SetCurtain& a, const SetCurtain& b) { return fieldsEqual(a, b); }
    };

    // The curtain's state after the request.
    struct Curtain {
        static constexpr std::string_view caseName = "curtain";
        static constexpr Direction direction = Direction::hostToClient;
        CurtainState state;
        static void fields(auto& visit, auto&... self) { visit("_0", self.state...); }
        friend bool operator==(const Curtain& a, const Curtain& b) { return fieldsEqual(a, b); }
    };

    // Goodbye; the session ends.
    struct Bye {
        static constexpr std::string_view caseName = "bye";
        static constexpr Direction direction = Direction::both;
        ByeReason reason = ByeReason::userDisconnected;
        static void fields(auto& visit, auto&... self) { visit("_0", self.reason...); }
        friend bool operator==(const Bye& a, const Bye& b) { return fieldsEqual(a, b); }
    };
};

// The one message type of the control channel: every control frame carries exactly one, as
// compact JSON {"caseName":{payload}}. The payload's keys are "_0" and "_1" for unlabelled
// values and the labels for labelled ones; a case without payload has an empty object.
class ControlMessage
    : public ControlMessageCases,
      public CaseValue<
          ControlMessageCases::Hello, ControlMessageCases::HelloAck, ControlMessageCases::PairRequest,
          ControlMessageCases::PairResponse, ControlMessageCases::ConfigureStream,
          ControlMessageCases::StreamStarted, ControlMessageCases::RequestKeyframe,
          ControlMessageCases::PauseStream, ControlMessageCases::Ping, ControlMessageCases::Pong,
          ControlMessageCases::ClientStats, ControlMessageCases::BitrateChanged,
          ControlMessageCases::DisplaysChanged, ControlMessageCases::PointerPosition,
          ControlMessageCases::TextInputFocus, ControlMessageCases::TextInputArea,
          ControlMessageCases::CursorShape, ControlMessageCases::ConfigureAudio,
          ControlMessageCases::ListApps, ControlMessageCases::Apps, ControlMessageCases::ListInstalledApps,
          ControlMessageCases::InstalledApps, ControlMessageCases::RequestDeviceImage,
          ControlMessageCases::DeviceImage, ControlMessageCases::RequestGlimpse, ControlMessageCases::Glimpse,
          ControlMessageCases::OpenFileTransfer, ControlMessageCases::FileTransfer,
          ControlMessageCases::FilesAvailable, ControlMessageCases::AppModeEnded,
          ControlMessageCases::RequestHistory, ControlMessageCases::History, ControlMessageCases::IdleWarning,
          ControlMessageCases::StillHere, ControlMessageCases::SetCurtain, ControlMessageCases::Curtain,
          ControlMessageCases::Bye> {
public:
    using CaseValue::CaseValue;

    static ControlMessage hello(ClientHello hello) { return Hello{std::move(hello)}; }
    static ControlMessage helloAck(HostHello hello) { return HelloAck{std::move(hello)}; }
    static ControlMessage pairRequest(velm::PairRequest request) { return PairRequest{std::move(request)}; }
    static ControlMessage pairResponse(velm::PairResponse response) {
        return PairResponse{std::move(response)};
    }
    static ControlMessage configureStream(StreamRequest request) {
        return ConfigureStream{std::move(request)};
    }
    static ControlMessage streamStarted(StreamDescription description) {
        return StreamStarted{std::move(description)};
    }
    static ControlMessage requestKeyframe() { return RequestKeyframe{}; }
    static ControlMessage pauseStream() { return PauseStream{}; }
    static ControlMessage ping(std::uint32_t id, std::uint64_t clientTime) { return Ping{id, clientTime}; }
    static ControlMessage pong(std::uint32_t id, std::uint64_t clientTime, std::uint64_t hostTime) {
        return Pong{id, clientTime, hostTime};
    }
    static ControlMessage clientStats(velm::ClientStats stats) { return ClientStats{std::move(stats)}; }
    static ControlMessage bitrateChanged(std::int64_t bitsPerSecond) { return BitrateChanged{bitsPerSecond}; }
    static ControlMessage displaysChanged(std::vector<DisplayInfo> displays) {
        return DisplaysChanged{std::move(displays)};
    }
    static ControlMessage pointerPosition(double x, double y) { return PointerPosition{x, y}; }
    static ControlMessage textInputFocus(bool isFocused) { return TextInputFocus{isFocused}; }
    static ControlMessage textInputArea(std::optional<velm::TextInputArea> area) {
        return TextInputArea{std::move(area)};
    }
    static ControlMessage cursorShape(velm::CursorShape shape) { return CursorShape{std::move(shape)}; }
    static ControlMessage configureAudio(bool enabled) { return ConfigureAudio{enabled}; }
    static ControlMessage listApps() { return ListApps{}; }
    static ControlMessage apps(std::vector<AppInfo> apps) { return Apps{std::move(apps)}; }
    static ControlMessage listInstalledApps() { return ListInstalledApps{}; }
    static ControlMessage installedApps(AppListPage page) { return InstalledApps{std::move(page)}; }
    static ControlMessage requestDeviceImage() { return RequestDeviceImage{}; }
    static ControlMessage deviceImage(std::optional<Bytes> image, std::optional<Bytes> display) {
        return DeviceImage{std::move(image), std::move(display)};
    }
    static ControlMessage requestGlimpse(ClientHello hello) { return RequestGlimpse{std::move(hello)}; }
    static ControlMessage glimpse(std::optional<Bytes> jpeg) { return Glimpse{std::move(jpeg)}; }
    static ControlMessage openFileTransfer(ClientHello hello, FileTransferRequest request) {
        return OpenFileTransfer{std::move(hello), std::move(request)};
    }
    static ControlMessage fileTransfer(FileTransferReply reply) { return FileTransfer{std::move(reply)}; }
    static ControlMessage filesAvailable(std::vector<FileItem> files) {
        return FilesAvailable{std::move(files)};
    }
    static ControlMessage appModeEnded(std::string reason) { return AppModeEnded{std::move(reason)}; }
    static ControlMessage requestHistory(ClientHello hello) { return RequestHistory{std::move(hello)}; }
    static ControlMessage history(std::vector<ConnectionRecord> records) {
        return History{std::move(records)};
    }
    static ControlMessage idleWarning(std::int64_t secondsLeft) { return IdleWarning{secondsLeft}; }
    static ControlMessage stillHere() { return StillHere{}; }
    static ControlMessage setCurtain(bool on) { return SetCurtain{on}; }
    static ControlMessage curtain(CurtainState state) { return Curtain{std::move(state)}; }
    static ControlMessage bye(ByeReason reason) { return Bye{reason}; }

    // The case name, as it travels ("ping").
    std::string_view caseName() const;
    // Which way the message travels; the host does nothing with a host-to-client one it receives.
    Direction direction() const;

    // The message's JSON text; nothing when a number in it is NaN or infinite, which JSON cannot
    // carry (the reason goes to `failure` when one is given).
    std::optional<Bytes> jsonEncoded(JsonError* failure = nullptr) const;

    // Reads one message. A message that is not exactly as it should be fails as a whole: not a
    // JSON object, not exactly one key that names a case, a member name given twice in one object,
    // a payload that is not an object, a required value missing, null, of the wrong type or out of
    // its range, bad Base64, an unknown name. Unknown keys are ignored. Never throws: a failure gives
    // nothing, with the reason in `failure` when one is given.
    static std::optional<ControlMessage> fromJson(ByteView json, JsonError* failure = nullptr);
};

} // namespace velm
