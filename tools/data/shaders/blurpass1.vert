// One direction of the separable blur of the captured frame.
attribute highp vec4 vertex;
attribute mediump vec2 uvcoord;
varying mediump vec2 vertexUVCoord;

void main() {
    vertexUVCoord = uvcoord;
    gl_Position = vertex;
}
