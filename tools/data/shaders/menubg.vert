// The main menu's backdrop grid: the interior ripples toward the viewer while the border stays
// put, so the picture always covers the screen. time is in units of 666 ms.
attribute highp vec4 vertex;
attribute mediump vec2 uvcoord;
uniform highp mat4 projView;
uniform highp float time;
varying mediump vec2 vertexUVCoord;

void main() {
    highp float edge = sin(3.14159265 * uvcoord.x) * sin(3.14159265 * uvcoord.y);
    highp float wave = sin(time * 0.5 + uvcoord.x * 6.0) * cos(time * 0.35 + uvcoord.y * 4.0);
    highp vec4 p = vertex;
    p.z += 30.0 * edge * wave;
    vertexUVCoord = uvcoord;
    gl_Position = projView * p;
}
