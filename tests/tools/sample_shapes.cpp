#include "tests/tools/sample_shapes.h"

namespace shapes {
namespace {

class Circle final : public Shape {
public:
    explicit Circle(double r) : r_(r) {}
    double Area() const override { return 3.14159 * r_ * r_; }

private:
    double r_;
};

class Square final : public Shape {
public:
    explicit Square(double s) : s_(s) {}
    double Area() const override { return s_ * s_; }

private:
    double s_;
};

} // namespace

std::unique_ptr<Shape> MakeCircle(double radius) { return std::make_unique<Circle>(radius); }
std::unique_ptr<Shape> MakeSquare(double side) { return std::make_unique<Square>(side); }

} // namespace shapes
