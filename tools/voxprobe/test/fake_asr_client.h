// The calls the fake ASR client recorded since the last look, in order.
#ifndef VOXPROBE_TEST_FAKE_ASR_CLIENT_H
#define VOXPROBE_TEST_FAKE_ASR_CLIENT_H

#include <string>
#include <vector>

std::vector<std::string> FakeAsrCalls();

#endif  // VOXPROBE_TEST_FAKE_ASR_CLIENT_H
