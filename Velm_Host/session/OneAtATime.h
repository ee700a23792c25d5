#pragma once

namespace velm {

// A question that is out at most once at a time. Asked again while out, it goes once more when the
// answer comes, so that the latest asker still gets an answer made after its question, however often
// it asked meanwhile.
class OneAtATime {
public:
    // True when the question is to go now; otherwise it is noted for after the answer.
    bool ask() {
        if (out_) {
            askedAgain_ = true;
            return false;
        }
        out_ = true;
        return true;
    }

    // The answer came. True when the question is to go again now.
    bool answered() {
        out_ = askedAgain_;
        askedAgain_ = false;
        return out_;
    }

private:
    bool out_ = false;
    bool askedAgain_ = false;
};

} // namespace velm
