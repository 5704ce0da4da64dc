// Full-screen pass that turns the accumulated particle map into gold.
attribute highp vec4 vertex;
attribute mediump vec2 uvcoord;
varying mediump vec2 vertexUVCoord;

void main() {
    vertexUVCoord = uvcoord;
    gl_Position = vertex;
}
