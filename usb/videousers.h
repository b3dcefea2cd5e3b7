#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A program that has one of a capture device's video nodes open, such as a capture
// application recording from it.
struct VideoUser {
    std::string program; // its command name
    int pid = 0;
};

// The processes, other than this one, that hold a video node of the USB device at `portPath`
// on bus `busNumber` open, once each, by process id. Linux finds the nodes as the video4linux
// entries of the device's interfaces in sysfs and their holders among the open files in /proc,
// both under systemRoot(); elsewhere the list is empty.
std::vector<VideoUser> usb_video_users(uint8_t busNumber, const std::vector<uint8_t> &portPath);
