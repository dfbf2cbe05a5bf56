#include "cipher/ecc.h"

#include <cstring>

#include "cipher/mpi_scratch.h"
#include "cipher/sm3.h"

namespace Cipher {

namespace {

// Arithmetic modulo p on fixed-width elements of n limbs, each below p.
class Field {
  public:
    Field(const Limb* p, int pn) : p_(p), n_(mpi_top(p, pn)) {}
    int width() const { return n_; }

    // r = a mod p for any (a, an).
    void load(Limb* r, const Limb* a, int an) const {
        MpiScratch t(n_ + 1);
        int tn = 0;
        mpi_mod(t.get(), tn, a, mpi_top(a, an), p_, n_);
        std::memcpy(r, t.get(), sizeof(Limb) * n_);
    }
    void store(Limb* out, int& on, const Limb* a) const {
        if (out != a) std::memmove(out, a, sizeof(Limb) * n_);
        on = mpi_top(out, n_);
    }
    bool is_zero(const Limb* a) const { return mpi_top(a, n_) == 0; }
    bool equal(const Limb* a, const Limb* b) const {
        return std::memcmp(a, b, sizeof(Limb) * n_) == 0;
    }
    void set_one(Limb* r) const {
        std::memset(r, 0, sizeof(Limb) * n_);
        r[0] = 1;
    }

    void add(Limb* r, const Limb* a, const Limb* b) const {
        Limb carry = 0;
        for (int i = 0; i < n_; ++i) {
            const unsigned __int128 s = (unsigned __int128)a[i] + b[i] + carry;
            r[i] = static_cast<Limb>(s);
            carry = static_cast<Limb>(s >> 64);
        }
        if (carry || mpi_cmp(r, n_, p_, n_) >= 0) sub_p(r);
    }
    void sub(Limb* r, const Limb* a, const Limb* b) const {
        Limb borrow = 0;
        for (int i = 0; i < n_; ++i) {
            const Limb ai = a[i], bi = b[i];
            r[i] = ai - bi - borrow;
            borrow = (ai < bi) | ((ai == bi) & borrow);
        }
        if (borrow) {
            Limb carry = 0;
            for (int i = 0; i < n_; ++i) {
                const unsigned __int128 s = (unsigned __int128)r[i] + p_[i] + carry;
                r[i] = static_cast<Limb>(s);
                carry = static_cast<Limb>(s >> 64);
            }
        }
    }
    void mul(Limb* r, const Limb* a, const Limb* b) const {
        MpiScratch t(2 * n_ + 1), m(n_ + 1);
        int tn = 0, mn = 0;
        mpi_mul(t.get(), tn, a, n_, b, n_);
        mpi_mod(m.get(), mn, t.get(), tn, p_, n_);
        std::memcpy(r, m.get(), sizeof(Limb) * n_);
    }
    void sqr(Limb* r, const Limb* a) const { mul(r, a, a); }
    // r = a^-1; a must not be zero.
    void inv(Limb* r, const Limb* a) const {
        MpiScratch t(n_ + 1);
        int tn = 0;
        mpi_inverse(t.get(), tn, a, n_, p_, n_);
        std::memcpy(r, t.get(), sizeof(Limb) * n_);
    }

  private:
    void sub_p(Limb* r) const {
        Limb borrow = 0;
        for (int i = 0; i < n_; ++i) {
            const Limb ri = r[i], pi = p_[i];
            r[i] = ri - pi - borrow;
            borrow = (ri < pi) | ((ri == pi) & borrow);
        }
    }

    const Limb* p_;
    int n_;
};

// Named fixed-width temporaries carved from one scratch area.
class Temps {
  public:
    Temps(int n, int count) : n_(n), area_(n * count) {}
    Limb* operator[](int i) { return area_.get() + i * n_; }

  private:
    int n_;
    MpiScratch area_;
};

// A Jacobian point on fixed-width elements; Z = 0 is infinity.
struct Jacobian {
    Limb* x;
    Limb* y;
    Limb* z;
};

void double_j(const Field& f, Jacobian& p, const Limb* a) {
    if (f.is_zero(p.z) || f.is_zero(p.y)) {
        std::memset(p.z, 0, sizeof(Limb) * f.width());
        return;
    }
    Temps t(f.width(), 8);
    Limb *xx = t[0], *yy = t[1], *yyyy = t[2], *zz = t[3], *s = t[4], *m = t[5], *u = t[6];
    f.sqr(xx, p.x);
    f.sqr(yy, p.y);
    f.sqr(yyyy, yy);
    f.sqr(zz, p.z);
    f.mul(s, p.x, yy);  // S = 4 X YY
    f.add(s, s, s);
    f.add(s, s, s);
    f.sqr(u, zz);  // M = 3 XX + a ZZ^2
    f.mul(u, u, a);
    f.add(m, xx, xx);
    f.add(m, m, xx);
    f.add(m, m, u);
    f.mul(p.z, p.y, p.z);  // Z3 = 2 Y Z
    f.add(p.z, p.z, p.z);
    f.sqr(p.x, m);  // X3 = M^2 - 2 S
    f.sub(p.x, p.x, s);
    f.sub(p.x, p.x, s);
    f.sub(u, s, p.x);  // Y3 = M (S - X3) - 8 YYYY
    f.mul(p.y, m, u);
    f.add(yyyy, yyyy, yyyy);
    f.add(yyyy, yyyy, yyyy);
    f.add(yyyy, yyyy, yyyy);
    f.sub(p.y, p.y, yyyy);
}

void add_j(const Field& f, Jacobian& p, const Jacobian& q, const Limb* a) {
    const int n = f.width();
    if (f.is_zero(q.z)) return;
    if (f.is_zero(p.z)) {
        std::memcpy(p.x, q.x, sizeof(Limb) * n);
        std::memcpy(p.y, q.y, sizeof(Limb) * n);
        std::memcpy(p.z, q.z, sizeof(Limb) * n);
        return;
    }
    Temps t(n, 10);
    Limb *z1z1 = t[0], *z2z2 = t[1], *u1 = t[2], *u2 = t[3], *s1 = t[4], *s2 = t[5], *h = t[6],
         *r = t[7], *hh = t[8], *v = t[9];
    f.sqr(z1z1, p.z);
    f.sqr(z2z2, q.z);
    f.mul(u1, p.x, z2z2);
    f.mul(u2, q.x, z1z1);
    f.mul(s1, p.y, q.z);
    f.mul(s1, s1, z2z2);
    f.mul(s2, q.y, p.z);
    f.mul(s2, s2, z1z1);
    f.sub(h, u2, u1);
    f.sub(r, s2, s1);
    if (f.is_zero(h)) {
        if (f.is_zero(r))
            double_j(f, p, a);
        else
            std::memset(p.z, 0, sizeof(Limb) * n);
        return;
    }
    f.sqr(hh, h);
    f.mul(v, u1, hh);  // V = U1 HH
    f.mul(hh, hh, h);  // HHH
    f.mul(p.z, p.z, q.z);
    f.mul(p.z, p.z, h);
    f.sqr(p.x, r);  // X3 = r^2 - HHH - 2 V
    f.sub(p.x, p.x, hh);
    f.sub(p.x, p.x, v);
    f.sub(p.x, p.x, v);
    f.sub(v, v, p.x);  // Y3 = r (V - X3) - S1 HHH
    f.mul(p.y, r, v);
    f.mul(s1, s1, hh);
    f.sub(p.y, p.y, s1);
}

}  // namespace

bool ecc_coordinate_is_infinite(const Limb*, int n) {
    return n == 0;
}

void ecc_coordinate_set_infinite(Limb*, int& n) {
    n = 0;
}

bool ecc_point_is_infinite(const Limb*, int xn, const Limb*, int yn) {
    return xn == 0 && yn == 0;
}

void ecc_point_set_infinite(Limb*, int& xn, Limb*, int& yn) {
    xn = yn = 0;
}

bool ecc_point_equal(const Limb* x1, int x1n, const Limb* y1, int y1n, const Limb* x2, int x2n,
                     const Limb* y2, int y2n) {
    return mpi_cmp(x1, x1n, x2, x2n) == 0 && mpi_cmp(y1, y1n, y2, y2n) == 0;
}

void ecc_point_copy(Limb* x, int& xn, Limb* y, int& yn, const Limb* sx, int sxn, const Limb* sy,
                    int syn) {
    if (sxn > 0 && x != sx) std::memmove(x, sx, sizeof(Limb) * sxn);
    if (syn > 0 && y != sy) std::memmove(y, sy, sizeof(Limb) * syn);
    xn = sxn;
    yn = syn;
}

void ecc_point_y_square(Limb* r, int& rn, const Limb* x, int xn, const Limb* a, int an,
                        const Limb* b, int bn, const Limb* p, int pn) {
    const Field f(p, pn);
    Temps t(f.width(), 4);
    f.load(t[0], x, xn);
    f.load(t[1], a, an);
    f.load(t[2], b, bn);
    f.sqr(t[3], t[0]);  // x^2 + a, times x, plus b
    f.add(t[3], t[3], t[1]);
    f.mul(t[3], t[3], t[0]);
    f.add(t[3], t[3], t[2]);
    f.store(r, rn, t[3]);
}

bool ecc_point_check(const Limb* x, int xn, const Limb* y, int yn, const Limb* a, int an,
                     const Limb* b, int bn, const Limb* p, int pn) {
    if (mpi_top(x, xn) == 0 && mpi_top(y, yn) == 0) return true;
    const Field f(p, pn);
    if (mpi_cmp(x, xn, p, pn) >= 0 || mpi_cmp(y, yn, p, pn) >= 0) return false;
    Temps t(f.width(), 3);
    int rn = 0;
    ecc_point_y_square(t[0], rn, x, xn, a, an, b, bn, p, pn);
    std::memset(t[0] + rn, 0, sizeof(Limb) * (f.width() - rn));
    f.load(t[1], y, yn);
    f.sqr(t[2], t[1]);
    return f.equal(t[0], t[2]);
}

bool ecc_point_y(Limb* y, int& yn, const Limb* x, int xn, const Limb* a, int an, const Limb* b,
                 int bn, const Limb* p, int pn) {
    MpiScratch r(mpi_top(p, pn) + 1);
    int rn = 0;
    ecc_point_y_square(r.get(), rn, x, xn, a, an, b, bn, p, pn);
    return mpi_square_root(y, yn, r.get(), rn, p, pn);
}

bool ecc_point_is_negative(const Limb* x1, int x1n, const Limb* y1, int y1n, const Limb* x2,
                           int x2n, const Limb* y2, int y2n, const Limb* p, int pn) {
    if (mpi_cmp(x1, x1n, x2, x2n) != 0) return false;
    if (mpi_top(y1, y1n) == 0) return mpi_top(y2, y2n) == 0;
    MpiScratch s(mpi_top(p, pn) + 1);
    int sn = 0;
    mpi_sub(s.get(), sn, p, pn, y1, y1n);
    return mpi_cmp(s.get(), sn, y2, y2n) == 0;
}

void ecc_point_set_negative(Limb* y, int& yn, const Limb* p, int pn) {
    if (mpi_top(y, yn) == 0) {
        yn = 0;
        return;
    }
    mpi_sub(y, yn, p, pn, y, yn);
}

void ecc_point_add(Limb* x3, int& x3n, Limb* y3, int& y3n, const Limb* x1, int x1n, const Limb* y1,
                   int y1n, const Limb* x2, int x2n, const Limb* y2, int y2n, const Limb* a, int an,
                   const Limb* p, int pn) {
    if (ecc_point_is_infinite(x2, mpi_top(x2, x2n), y2, mpi_top(y2, y2n))) {
        ecc_point_copy(x3, x3n, y3, y3n, x1, mpi_top(x1, x1n), y1, mpi_top(y1, y1n));
        return;
    }
    if (ecc_point_is_infinite(x1, mpi_top(x1, x1n), y1, mpi_top(y1, y1n))) {
        ecc_point_copy(x3, x3n, y3, y3n, x2, mpi_top(x2, x2n), y2, mpi_top(y2, y2n));
        return;
    }
    const Field f(p, pn);
    Temps t(f.width(), 8);
    Limb *ax = t[0], *ay = t[1], *bx = t[2], *by = t[3], *l = t[4], *u = t[5], *v = t[6],
         *ca = t[7];
    f.load(ax, x1, x1n);
    f.load(ay, y1, y1n);
    f.load(bx, x2, x2n);
    f.load(by, y2, y2n);
    if (f.equal(ax, bx)) {
        if (!f.equal(ay, by) || f.is_zero(ay)) {
            ecc_point_set_infinite(x3, x3n, y3, y3n);
            return;
        }
        f.load(ca, a, an);  // slope (3 x^2 + a) / (2 y)
        f.sqr(u, ax);
        f.add(v, u, u);
        f.add(u, v, u);
        f.add(u, u, ca);
        f.add(v, ay, ay);
    } else {
        f.sub(u, by, ay);  // slope (y2 - y1) / (x2 - x1)
        f.sub(v, bx, ax);
    }
    f.inv(v, v);
    f.mul(l, u, v);
    f.sqr(u, l);  // x3 = l^2 - x1 - x2; y3 = l (x1 - x3) - y1
    f.sub(u, u, ax);
    f.sub(u, u, bx);
    f.sub(v, ax, u);
    f.mul(v, l, v);
    f.sub(v, v, ay);
    f.store(x3, x3n, u);
    f.store(y3, y3n, v);
}

void ecc_point_mul(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* x, int xn, const Limb* y,
                   int yn, const Limb* k, int kn, const Limb* a, int an, const Limb* p, int pn) {
    const int n = mpi_top(p, pn);
    MpiScratch ax(n + 1), ay(n + 1), px(n + 1), py(n + 1);
    int axn = 0, ayn = 0, pxn = mpi_top(x, xn), pyn = mpi_top(y, yn);
    if (pxn > 0) std::memcpy(px.get(), x, sizeof(Limb) * pxn);
    if (pyn > 0) std::memcpy(py.get(), y, sizeof(Limb) * pyn);
    // Left to right: acc = 2 acc (+ P for a set bit).
    for (int i = mpi_get_bits(k, kn) - 1; i >= 0; --i) {
        ecc_point_add(ax.get(), axn, ay.get(), ayn, ax.get(), axn, ay.get(), ayn, ax.get(), axn,
                      ay.get(), ayn, a, an, p, pn);
        if ((k[i / 64] >> (i % 64)) & 1)
            ecc_point_add(ax.get(), axn, ay.get(), ayn, ax.get(), axn, ay.get(), ayn, px.get(), pxn,
                          py.get(), pyn, a, an, p, pn);
    }
    ecc_point_copy(rx, rxn, ry, ryn, ax.get(), axn, ay.get(), ayn);
}

void ecc_point_double_jacobian(Limb* x, int& xn, Limb* y, int& yn, Limb* z, int& zn, const Limb* a,
                               int an, const Limb* p, int pn) {
    const Field f(p, pn);
    const int n = f.width();
    Temps t(n, 4);
    Jacobian j{t[0], t[1], t[2]};
    f.load(j.x, x, xn);
    f.load(j.y, y, yn);
    f.load(j.z, z, zn);
    f.load(t[3], a, an);
    double_j(f, j, t[3]);
    f.store(x, xn, j.x);
    f.store(y, yn, j.y);
    f.store(z, zn, j.z);
}

void ecc_point_add_jacobian(Limb* x1, int& x1n, Limb* y1, int& y1n, Limb* z1, int& z1n,
                            const Limb* x2, int x2n, const Limb* y2, int y2n, const Limb* z2,
                            int z2n, const Limb* a, int an, const Limb* p, int pn) {
    const Field f(p, pn);
    const int n = f.width();
    Temps t(n, 7);
    Jacobian j1{t[0], t[1], t[2]}, j2{t[3], t[4], t[5]};
    f.load(j1.x, x1, x1n);
    f.load(j1.y, y1, y1n);
    f.load(j1.z, z1, z1n);
    f.load(j2.x, x2, x2n);
    f.load(j2.y, y2, y2n);
    f.load(j2.z, z2, z2n);
    f.load(t[6], a, an);
    add_j(f, j1, j2, t[6]);
    f.store(x1, x1n, j1.x);
    f.store(y1, y1n, j1.y);
    f.store(z1, z1n, j1.z);
}

void ecc_point_mul_jacobian(Limb* rx, int& rxn, Limb* ry, int& ryn, const Limb* x, int xn,
                            const Limb* y, int yn, const Limb* k, int kn, const Limb* a, int an,
                            const Limb* p, int pn) {
    kn = mpi_top(k, kn);
    if (mpi_equal_num(k, kn, 1)) {
        ecc_point_copy(rx, rxn, ry, ryn, x, mpi_top(x, xn), y, mpi_top(y, yn));
        return;
    }
    if (kn == 0 || ecc_point_is_infinite(x, mpi_top(x, xn), y, mpi_top(y, yn))) {
        ecc_point_set_infinite(rx, rxn, ry, ryn);
        return;
    }
    const Field f(p, pn);
    const int n = f.width();
    Temps t(n, 8);
    Jacobian r{t[0], t[1], t[2]}, q{t[3], t[4], t[5]};
    Limb* ca = t[6];
    f.load(q.x, x, xn);
    f.load(q.y, y, yn);
    f.set_one(q.z);
    f.load(ca, a, an);
    MpiScratch e(kn + 1);
    std::memcpy(e.get(), k, sizeof(Limb) * kn);
    int en = kn;
    while (en > 0) {
        if (e[0] & 1) {
            add_j(f, r, q, ca);
            e[0] &= ~Limb(1);
            en = mpi_top(e.get(), en);
        } else {
            double_j(f, q, ca);
            mpi_shift_right(e.get(), en);
        }
    }
    if (f.is_zero(r.z)) {
        ecc_point_set_infinite(rx, rxn, ry, ryn);
        return;
    }
    Limb *zi = t[6], *zz = t[7];
    f.inv(zi, r.z);
    f.sqr(zz, zi);
    f.mul(r.x, r.x, zz);
    f.mul(zz, zz, zi);
    f.mul(r.y, r.y, zz);
    f.store(rx, rxn, r.x);
    f.store(ry, ryn, r.y);
}

void kdf(char* out, int out_len, const char* z, int z_len, char* scratch) {
    if (z_len > 0 && scratch != z) std::memmove(scratch, z, z_len);
    Sm3 sm3;
    unsigned int counter = 1;
    for (int done = 0; done < out_len; done += Sm3::DIGEST_SIZE, ++counter) {
        scratch[z_len] = static_cast<char>(counter >> 24);
        scratch[z_len + 1] = static_cast<char>(counter >> 16);
        scratch[z_len + 2] = static_cast<char>(counter >> 8);
        scratch[z_len + 3] = static_cast<char>(counter);
        sm3.reset();
        sm3.update(scratch, z_len + 4);
        sm3.final();
        const int take = out_len - done < Sm3::DIGEST_SIZE ? out_len - done : Sm3::DIGEST_SIZE;
        std::memcpy(out + done, sm3.digest, take);
    }
}

}  // namespace Cipher
