#include "download/body_reader.h"

namespace {
constexpr LONGLONG kGrowBelowMs = 50;
constexpr LONGLONG kShrinkAboveMs = 150;
}  // namespace

BodyReader::BodyReader() : m_buffer(new char[kLargestRead]) { ::QueryPerformanceFrequency(&m_frequency); }

bool BodyReader::Read(HINTERNET request, DWORD* got) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    *got = 0;
    if (!InternetReadFile(request, m_buffer.get(), m_readSize, got)) return false;
    ::QueryPerformanceCounter(&end);
    const LONGLONG ms = (end.QuadPart - start.QuadPart) * 1000 / m_frequency.QuadPart;
    if (*got == m_readSize && ms < kGrowBelowMs && m_readSize < kLargestRead) {
        m_readSize *= 2;
    } else if (ms > kShrinkAboveMs && m_readSize > kSmallestRead) {
        m_readSize /= 2;
    }
    return true;
}
