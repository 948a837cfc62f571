// The remote control's request heads as any client might send them: the parser never
// crashes, keeps to its limits, and the access check answers every request it gives.
#include "remote/HttpMessage.h"
#include "remote/RemoteAuth.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray buffer(reinterpret_cast<const char*>(data), qsizetype(size));
    HttpRequest request;
    const HttpLimits limits;
    const HeadParse head = ParseRequestHead(buffer, request, limits);
    if (head.status == HeadParse::Complete) {
        if (head.headLength <= 0 || head.headLength > buffer.size() ||
            head.headLength > limits.maxHeadBytes)
            std::abort();
        for (const bool loopbackOnly : {true, false}) {
            AccessPolicy policy;
            policy.loopbackOnly = loopbackOnly;
            policy.token = loopbackOnly ? QByteArray() : QByteArray("secreto");
            const auto refusal = CheckAccess(request, policy);
            if (!loopbackOnly && refusal == std::nullopt &&
                !TokensEqual(RequestToken(request), policy.token))
                std::abort(); // beyond loopback nothing passes without the token
        }
        IsLoopbackHostHeader(buffer.left(64));
    } else if (head.status == HeadParse::Error) {
        if (head.errorStatus < 400 || head.errorStatus > 599)
            std::abort();
        SerializeReply(ErrorReply(head.errorStatus, head.error), false);
    }
    return 0;
}
