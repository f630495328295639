// Rendering a range of the table and comparing it with the source.
#include "measure.h"

#include <algorithm>
#include <cmath>

std::vector<uint8_t> renderRange(const Picture& picture, int first, int last,
                                 std::vector<uint8_t>* covered) {
    std::vector<uint8_t> canvas(GRID * GRID, 0);
    if (covered) covered->assign(GRID * GRID, 0);
    for (int i = std::max(first, 0); i <= last && i < int(picture.triangles.size()); ++i) {
        const uint8_t grey = picture.greys[i];
        forEachSpan(picture.triangles[i], [&](int y, int x0, int x1) {
            std::fill(&canvas[y * GRID + x0], &canvas[y * GRID + x1] + 1, grey);
            if (covered) std::fill(&(*covered)[y * GRID + x0], &(*covered)[y * GRID + x1] + 1, 1);
        });
    }
    return canvas;
}

// One pass of the separable 11-tap Gaussian, keeping only positions where the
// whole window fits: `in` is w x h, the result (w - 10) x h, transposed, so
// calling it twice filters both directions and restores the orientation.
static std::vector<double> blurPass(const std::vector<double>& in, int w, int h) {
    static const int R = 5;
    double kernel[2 * R + 1], sum = 0;
    for (int k = -R; k <= R; ++k) sum += kernel[k + R] = std::exp(-k * k / (2 * 1.5 * 1.5));
    for (double& k : kernel) k /= sum;
    const int ow = w - 2 * R;
    std::vector<double> out(size_t(ow) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < ow; ++x) {
            double s = 0;
            for (int k = 0; k <= 2 * R; ++k) s += kernel[k] * in[size_t(y) * w + x + k];
            out[size_t(x) * h + y] = s;
        }
    return out;
}

static std::vector<double> blur(const std::vector<double>& in) {
    return blurPass(blurPass(in, GRID, GRID), GRID, GRID - 10);
}

double ssim(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    const double c1 = (0.01 * GREY_MAX) * (0.01 * GREY_MAX);
    const double c2 = (0.03 * GREY_MAX) * (0.03 * GREY_MAX);
    std::vector<double> fa(a.begin(), a.end()), fb(b.begin(), b.end());
    std::vector<double> aa(fa.size()), bb(fa.size()), ab(fa.size());
    for (size_t i = 0; i < fa.size(); ++i) {
        aa[i] = fa[i] * fa[i];
        bb[i] = fb[i] * fb[i];
        ab[i] = fa[i] * fb[i];
    }
    std::vector<double> ma = blur(fa), mb = blur(fb), saa = blur(aa), sbb = blur(bb),
                        sab = blur(ab);
    double total = 0;
    for (size_t i = 0; i < ma.size(); ++i) {
        double va = saa[i] - ma[i] * ma[i], vb = sbb[i] - mb[i] * mb[i];
        double cov = sab[i] - ma[i] * mb[i];
        total += (2 * ma[i] * mb[i] + c1) * (2 * cov + c2) /
                 ((ma[i] * ma[i] + mb[i] * mb[i] + c1) * (va + vb + c2));
    }
    return total / double(ma.size());
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += double(a[i] - b[i]) * (a[i] - b[i]);
    double mse = sum / double(a.size());
    if (mse == 0) return 99.0;
    return 10.0 * std::log10(double(GREY_MAX) * GREY_MAX / mse);
}

static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

Quality measureQuality(const Picture& picture, const std::vector<uint8_t>& source) {
    Quality q;
    const int n = int(picture.triangles.size());
    std::vector<uint8_t> whole = renderRange(picture, 0, n - 1);
    q.wholeSsim = ssim(whole, source);
    q.wholePsnr = psnr(whole, source);
    std::vector<double> ssims, psnrs, blacks;
    std::vector<uint8_t> covered;
    for (int last = WINDOW - 1; last < n; last += WINDOW_SAMPLE_STEP) {
        std::vector<uint8_t> canvas = renderRange(picture, last - WINDOW + 1, last, &covered);
        WindowQuality w;
        w.last = last;
        w.ssim = ssim(canvas, source);
        w.psnr = psnr(canvas, source);
        w.blackShare = double(std::count(covered.begin(), covered.end(), 0)) / covered.size();
        q.windows.push_back(w);
        ssims.push_back(w.ssim);
        psnrs.push_back(w.psnr);
        blacks.push_back(w.blackShare);
    }
    if (!q.windows.empty()) {
        q.windowSsimMin = *std::min_element(ssims.begin(), ssims.end());
        q.windowSsimMedian = median(ssims);
        q.windowPsnrMin = *std::min_element(psnrs.begin(), psnrs.end());
        q.windowPsnrMedian = median(psnrs);
        q.blackShareMax = *std::max_element(blacks.begin(), blacks.end());
        q.blackShareMedian = median(blacks);
    }
    return q;
}
