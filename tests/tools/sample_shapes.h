#pragma once
// Shapes with virtual methods for the sample program.
#include <memory>

namespace shapes {

class Shape {
public:
    virtual ~Shape() = default;
    virtual double Area() const = 0;
};

std::unique_ptr<Shape> MakeCircle(double radius);
std::unique_ptr<Shape> MakeSquare(double side);

} // namespace shapes
