// The fake of one kind that the host's slots reach. The slots carry no
// context, so they act on the fake made last, while it lives; it is neither
// copied nor moved, as the module holds its records' addresses.
#pragma once

namespace fakes {

template <typename Fake> class Bound {
  public:
    Bound(const Bound&) = delete;
    Bound& operator=(const Bound&) = delete;

    // The bound fake, or null when none lives.
    static Fake* current() { return static_cast<Fake*>(bound_); }

  protected:
    Bound() { bound_ = this; }
    ~Bound() {
        if (bound_ == this)
            bound_ = nullptr;
    }
    // Binds this fake again, over one made after it.
    void bind() { bound_ = this; }

  private:
    static inline Bound* bound_ = nullptr;
};

} // namespace fakes
