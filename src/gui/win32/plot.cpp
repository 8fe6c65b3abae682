#include "gui/win32/plot.h"

#include <cmath>

namespace loopmon::win32 {

namespace {

COLORREF colourRef(Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

int pixel(double at) {
  return static_cast<int>(std::lround(at));
}

}  // namespace

Plot::Plot(HWND parent, int id) {
  createWindow({L"Loopmon.Plot", nullptr, CS_HREDRAW | CS_VREDRAW}, WS_CHILD | WS_VISIBLE, 0, "",
               parent, id);
}

void Plot::setSource(Source source) {
  source_ = std::move(source);
  InvalidateRect(hwnd(), nullptr, FALSE);
}

void Plot::paint(HDC dc, const RECT& area) {
  if (!source_) return;
  HGDIOBJ oldFont = SelectObject(dc, font() ? font() : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  const TextMeasure measure{[dc](const std::string& text) {
                              const std::wstring wide = widen(text);
                              SIZE size{};
                              GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()),
                                                    &size);
                              return static_cast<int>(size.cx);
                            },
                            static_cast<int>(metrics.tmHeight)};
  for (const PlotShape& shape :
       source_({area.right, area.bottom}, static_cast<int>(dpi()), measure)) {
    const COLORREF colour = colourRef(shape.colour);
    switch (shape.kind) {
      case PlotShape::Kind::Fill: {
        const RECT box{pixel(shape.x1), pixel(shape.y1), pixel(shape.x2), pixel(shape.y2)};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &box, brush);
        DeleteObject(brush);
        break;
      }
      case PlotShape::Kind::Frame:
      case PlotShape::Kind::Line: {
        HPEN pen = CreatePen(PS_SOLID, shape.width, colour);
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        if (shape.kind == PlotShape::Kind::Frame) {
          Rectangle(dc, pixel(shape.x1), pixel(shape.y1), pixel(shape.x2), pixel(shape.y2));
        } else {
          MoveToEx(dc, pixel(shape.x1), pixel(shape.y1), nullptr);
          LineTo(dc, pixel(shape.x2), pixel(shape.y2));
        }
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        DeleteObject(pen);
        break;
      }
      case PlotShape::Kind::Text: {
        const std::wstring text = widen(shape.text);
        const UINT align = shape.align == TextAlign::Left     ? TA_LEFT
                           : shape.align == TextAlign::Centre ? TA_CENTER
                                                              : TA_RIGHT;
        SetTextAlign(dc, align | TA_TOP);
        SetTextColor(dc, colour);
        TextOutW(dc, pixel(shape.x1), pixel(shape.y1), text.c_str(), static_cast<int>(text.size()));
        break;
      }
    }
  }
  SetTextAlign(dc, TA_LEFT | TA_TOP);
  SelectObject(dc, oldFont);
}

}  // namespace loopmon::win32
