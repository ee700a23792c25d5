#pragma once

#include "protocol/DeviceShape.h"

#include <array>
#include <cstddef>
#include <string>

namespace velm::test {

// Every shape a device is drawn in, for the tests that draw them all.
inline constexpr std::array allDeviceShapes{
    DeviceShape::display,        DeviceShape::macMini, DeviceShape::macStudio, DeviceShape::macPro,
    DeviceShape::macBook,        DeviceShape::iMac,    DeviceShape::iPad,      DeviceShape::iPadPro,
    DeviceShape::iPadHomeButton, DeviceShape::iPhone,
};

// The shape's stored name, for traces and screenshot names.
inline std::string deviceShapeName(DeviceShape shape) {
    return std::string(RawValues<DeviceShape>::names[static_cast<std::size_t>(shape)]);
}

} // namespace velm::test
