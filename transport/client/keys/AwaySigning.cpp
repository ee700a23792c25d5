#include "transport/client/keys/AwaySigning.h"

#include <utility>

namespace velm {

void signAwayInBackground(ClientHello hello, std::optional<Bytes> binding, AwaySigner signer,
                          std::shared_ptr<Queue> queue, std::function<void(ClientHello)> completion) {
    if (!signer || !binding) {
        completion(std::move(hello));
        return;
    }
    Queue::global()->post([hello = std::move(hello), binding = std::move(*binding),
                           signer = std::move(signer), queue = std::move(queue),
                           completion = std::move(completion)]() mutable {
        hello.awaySignature = signer(binding);
        queue->post([hello = std::move(hello), completion = std::move(completion)]() mutable {
            completion(std::move(hello));
        });
    });
}

} // namespace velm
